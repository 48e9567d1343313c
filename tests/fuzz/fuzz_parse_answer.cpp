// ParseAnswer and the answer branch of each window's handler on whatever a module might send.
// The first byte picks the window and its awaited command, the rest is the received answer
// (the switching window also takes the answer of A from the front of it). A statistics window
// in automatic mode records the changes of every answer in its log.
#include <QComboBox>
#include <algorithm>
#include <cstring>

#include <QtWidgets>
#include "flows/commands.h"
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "model/statlogfile.h"
#include "model/switchblock.h"
#include "tests/fuzz/harness.h"
#include "tests/support/windows.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

// Hands the bytes to the window as the exchange does: a whole answer of the asked group, or
// nothing at all for one that is cut short or belongs to another group.
void Receive(ModuleWindow& window, const uint8_t* data, size_t size, uint8_t askedGroup) {
    const int length = static_cast<int>(std::min<size_t>(size, kFrameBufferSize));
    const bool taken = TakeAnswer(askedGroup, data, length, window.receiveBuffer());
    FuzzCheck(taken == (length >= kHeaderSize && data[0] == askedGroup &&
                        length >= AnswerLength(data[0], data[1])),
              "an answer is taken exactly when it is whole and of the asked group");
}

void SettingsAnswer(const uint8_t* data, size_t size, bool write) {
    TSettingsForm& form = *SettingsWindow();
    Receive(form, data, size, GroupConfig);
    if (write) {
        form.Flow.ApplyState = Awaiting::WriteConfig;
        form.ButtonSetCurOptionsClick(Sender::Answer);
        FuzzCheck(form.Flow.ApplyState == Awaiting::None, "the write flow ends with its answer");
    } else {
        form.Flow.ConnectState = Awaiting::ReadConfig;
        form.ButtonMuxConnectionClick(Sender::Answer);
        FuzzCheck(form.Flow.ConnectState == Awaiting::None, "the read flow ends with its answer");
    }
}

void SwitchingAnswer(const uint8_t* data, size_t size) {
    TSwitchForm& form = *SwitchWindow();
    SwitchingPair& Pair = form.pair();
    const PairChoice choice = form.choice();
    // The pair's read, its steps taken by hand: A answers whole with the input's first bytes as
    // its payload, B answers with whatever follows; the cross-check runs on both.
    FuzzCheck(Pair.pressRead(choice).sends(), "a read starts at A");
    uint8_t answerA[kHeaderSize + kSnapshotSize] = {GroupSwitching, CmdReadSwitching};
    const size_t fromA = std::min(size, static_cast<size_t>(kSnapshotSize));
    std::memcpy(answerA + kHeaderSize, data, fromA);
    Receive(form, answerA, sizeof answerA, GroupSwitching);
    FuzzCheck(Pair.answered(ParseAnswer(form), choice).sends(), "a whole answer of A goes on to B");
    Receive(form, data + fromA, size - fromA, GroupSwitching);
    Pair.answered(ParseAnswer(form), choice);
    FuzzCheck(Pair.commandsEnabled() && Pair.CurrentMux == 0, "the answer of B ends the read");
    form.showCommandState();
    FuzzCheck(form.SwSetButton->isEnabled() == Pair.writeEnabled(), "the write follows the flow");
}

void CurrentLinksAnswer(const uint8_t* data, size_t size) {
    TCurLinksForm& form = *LinksWindow();
    SwitchingPair& Pair = SwitchWindow()->pair();
    FuzzCheck(Pair.pressLinks(form.EditIp->text(), form.EditPort->text()).sends(),
              "the links read starts");
    Receive(form, data, size, GroupSwitching);
    form.ButtonConnectClick(Sender::Answer);
    FuzzCheck(Pair.commandsEnabled(), "the read ends with its answer");
}

constexpr int kSingleSlot = 0;
constexpr int kAutomaticSlot = 1;
// A fresh record now and then keeps its file from growing for the whole run.
constexpr int kAnswersPerLog = 1000;

void NewStatLog() {
    TStatForm& form = *StatWindow(kAutomaticSlot);
    form.Flow.start(FuzzScratchDir() + QStringLiteral("/stat-working.txt"),
                    [](StatLogFile::Trouble, const QString& name, qint64) {
                        FuzzCheck(false, qPrintable("log not written: " + name));
                    });
}

void StatisticsAnswer(const uint8_t* data, size_t size, int slot) {
    TStatForm& form = *StatWindow(slot);
    if (slot == kAutomaticSlot) {
        static int answers = 0;
        if (++answers % kAnswersPerLog == 0)
            NewStatLog();
    }
    Receive(form, data, size, GroupStatistics);
    form.Flow.PendingStatType = Awaiting::ReadStatistics;
    form.RequestButtonClick(Sender::Answer);
    FuzzCheck(form.Flow.PendingStatType == Awaiting::None, "the request ends with its answer");
}

void ClearAnswer(const uint8_t* data, size_t size) {
    TStatForm& form = *StatWindow(kSingleSlot);
    Receive(form, data, size, GroupStatistics);
    form.Flow.PendingClearType = Awaiting::ClearStatistics;
    form.ClearButtonClick(Sender::Answer);
    FuzzCheck(form.Flow.PendingClearType == Awaiting::None, "the clear ends with its answer");
    FuzzCheck(!form.TimerRequestStat->isActive(), "a clear in single mode starts no timer");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzMainForm().makeSwitchingWindow();  // hidden, as the answers need no shown window
    SwitchWindow()->ComboBoxSwIpA->setEditText(QStringLiteral("127.0.0.1"));
    SwitchWindow()->ComboBoxSwIpB->setEditText(QStringLiteral("127.0.0.2"));
    SwitchWindow()->EditSwPortA->setText(QStringLiteral("65530"));
    SwitchWindow()->EditSwPortB->setText(QStringLiteral("65530"));
    FuzzMainForm().openLinksWindow();
    LinksWindow()->EditIp->setText(QStringLiteral("127.0.0.3"));
    LinksWindow()->EditPort->setText(QStringLiteral("65530"));
    for (int slot : {kSingleSlot, kAutomaticSlot}) {
        FuzzMainForm().ButtonStat->click();
        FuzzCheck(StatWindow(slot) != nullptr, "the button opens the next statistics window");
    }
    // The automatic mode once its clear is confirmed; the timer never fires, as no event loop
    // runs.
    NewStatLog();
    TStatForm& automatic = *StatWindow(kAutomaticSlot);
    const uint8_t cleared[] = {GroupStatistics, CmdClearStatistics};
    Receive(automatic, cleared, sizeof cleared, GroupStatistics);
    automatic.Flow.PendingClearType = Awaiting::ClearStatistics;
    automatic.ClearButtonClick(Sender::Answer);
    FuzzCheck(automatic.Flow.ticking() && automatic.TimerRequestStat->isActive(),
              "the automatic mode runs once its clear is confirmed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    ++data;
    --size;
    switch (pick % 7) {
        case 0:
            SettingsAnswer(data, size, false);
            break;
        case 1:
            SettingsAnswer(data, size, true);
            break;
        case 2:
            SwitchingAnswer(data, size);
            break;
        case 3:
            CurrentLinksAnswer(data, size);
            break;
        case 4:
            StatisticsAnswer(data, size, kSingleSlot);
            break;
        case 5:
            StatisticsAnswer(data, size, kAutomaticSlot);
            break;
        case 6:
            ClearAnswer(data, size);
            break;
    }
    SettleAfterInput();
    return 0;
}
