#pragma once
// The text log of an automatic run, kept on disk as it grows: every block goes to a working file
// and is flushed to the device at once, so that a crash or a power cut loses at most the answer
// being processed. The finished log is the working file moved to its final name.
#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>

class StatLogFile {
  public:
    // Told the name of a file that could not be written, once each time writing starts to fail.
    using FailureReport = std::function<void(const QString& fileName)>;

    // Creates the working file, replacing one of that name.
    StatLogFile(const QString& workingPath, FailureReport report);
    ~StatLogFile();
    StatLogFile(const StatLogFile&) = delete;
    StatLogFile& operator=(const StatLogFile&) = delete;

    // Appends lines, each ended as the platform's text files end them. What cannot be written
    // now is kept and tried again with the next lines and at the finish.
    void append(const QStringList& lines);
    // Moves the log to `finalPath`, replacing a file of that name. False when the log, or part
    // of it, could not be put there (then reported; a working file that exists is left).
    bool finish(const QString& finalPath);

    const QString& workingPath() const { return workingPath_; }
    // Lines written to no file yet.
    int unwrittenBytes() const { return static_cast<int>(unwritten_.size()); }

  private:
    bool writeUnwritten(QFile& file);
    void failed(const QString& path);

    QString workingPath_;
    FailureReport report_;
    QFile file_;
    bool created_ = false;  // the working file exists and holds every line before unwritten_
    bool failing_ = false;
    QByteArray unwritten_;
};
