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
    // What the window is told, each naming the file that holds (or should hold) the record:
    // a file that could not be written, once each time writing starts to fail; a record left
    // in its working file because it could not be given its final name; and, once at the
    // finish, how many lines found no room while the log could not be written.
    enum class Trouble { NotWritten, LeftInWorkingFile, LinesDropped };
    using FailureReport =
        std::function<void(Trouble trouble, const QString& fileName, qint64 droppedLines)>;

    // Lines kept for a log that cannot be written at the moment: about four hundred answers'
    // worth of changes. Blocks beyond it are dropped whole and counted.
    static constexpr qsizetype kUnwrittenLimit = 1024 * 1024;

    // Creates the working file, replacing one of that name.
    StatLogFile(const QString& workingPath, FailureReport report);
    ~StatLogFile();
    StatLogFile(const StatLogFile&) = delete;
    StatLogFile& operator=(const StatLogFile&) = delete;

    // Appends lines, each ended as the platform's text files end them. What cannot be written
    // now is kept (up to kUnwrittenLimit bytes) and tried again with the next lines and at the
    // finish.
    void append(const QStringList& lines);
    // Moves the log to `finalPath`, or, when a file of that name exists, to the first free name
    // with "_2", "_3", ... before its extension: a finished log is never replaced. False when
    // the log, or part of it, could not be put there (then reported; a working file that
    // exists is left).
    bool finish(const QString& finalPath);

    const QString& workingPath() const { return workingPath_; }
    // The name the finished log took; empty before the finish.
    const QString& finalPath() const { return finalPath_; }
    // Lines written to no file yet.
    int unwrittenBytes() const { return static_cast<int>(unwritten_.size()); }

  private:
    bool writeUnwritten(QFile& file);
    void failed(const QString& path);
    bool moveToFreeName(const QString& finalPath);
    bool createFreeName(const QString& finalPath, QFile& file);

    QString workingPath_;
    QString finalPath_;
    FailureReport report_;
    QFile file_;
    bool created_ = false;  // the working file exists and holds every line before unwritten_
    bool failing_ = false;
    QByteArray unwritten_;
    qint64 dropped_ = 0;  // lines that found no room in unwritten_
};
