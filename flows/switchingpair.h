#pragma once
// The switching pair's flows without a window: reading A and B, writing both, the resets, and the
// current-links read they may build on. One rule guards every write: a block goes to a module only
// when it was built from a whole, current read of that very module plus what the operator chose
// (the links in the matrices, or the chosen reset); otherwise nothing is sent and the event log
// says what to read first.
//
// The windows translate presses, answers, time-outs and send errors into calls here and carry out
// the Step each call returns; what may be enabled is asked of the flow, never kept in a control.
#include <QString>
#include <array>
#include <optional>

#include <vector>

#include "flows/commands.h"
#include "link/codecs.h"
#include "link/exchange.h"
#include "model/configblock.h"
#include "model/crosscheck.h"
#include "model/modulereads.h"
#include "model/portmodel.h"
#include "model/switchblock.h"

class AnswerTarget;

enum class ResetType { None, All, Selective };
enum class ResetTarget { None, A, B, Both };

// What the switching window holds at the moment of an event.
struct PairChoice {
    QString ipA, portA, ipB, portB;
    ResetType resetType = ResetType::None;
    ResetTarget resetTarget = ResetTarget::None;
};

// The current-links window at the press of a selective reset; absent when it is not open.
struct LinksChoice {
    QString ip, port;
    std::array<bool, kSessionCount> chosen{};
};

class SwitchingPair {
  public:
    enum class Op { None, Read, Write, Reset, Links };

    // What the window does next: send `type` of group 3 to address:port for the flow `op` (a
    // write's block is then in OutgoingSwitching), or nothing.
    struct Step {
        Op op = Op::None;
        QString address, port;
        uint8_t type = 0;
        bool sends() const { return op != Op::None; }
    };

    // What the program knows of each module: the pair reads into it, builds on it and tells it
    // of every write it sends.
    explicit SwitchingPair(ModuleReads& reads) : reads_(reads) {}

    // The switching window opens (snapshots, partners and CurrentMux start from zero) or closes
    // (its exchange is abandoned). The matrices belong to the window; the flow fills them.
    void windowOpened(PortMatrix& matrix);
    void windowClosed();

    // Presses of "Соединиться", "Установить" and "Сброс". A press while an exchange of the pair or
    // of the current-links window is open does nothing.
    Step pressRead(const PairChoice& now);
    Step pressWrite(const PairChoice& now);
    Step pressReset(const PairChoice& now, const std::optional<LinksChoice>& links);

    // Where the answer to the open read goes: the snapshot of CurrentMux, or the current-links
    // read's own.
    MuxSnapshot* answerTarget();

    // The end of the open exchange of the switching window: the answer's type as ParseAnswer
    // returned it (a read answer is then in the snapshot of CurrentMux), its time-out, or a send
    // that failed (already logged).
    Step answered(uint8_t type, const PairChoice& now);
    Step timedOut(const PairChoice& now);
    Step sendFailed(const PairChoice& now);
    // Any of the three as the exchange ended (`sender`): an answer is parsed out of `window`.
    Step ended(Sender sender, AnswerTarget& window, const PairChoice& now);

    // The current-links window: its press, and the end of its exchange. `linksAnswered` is true
    // when the table is to be filled from linksRead().
    Step pressLinks(const QString& ip, const QString& port);
    bool linksAnswered(uint8_t type);
    void linksTimedOut();
    void linksSendFailed();
    void linksWindowClosed();

    // Whether the command controls of both windows may be enabled: no exchange of either is open.
    bool commandsEnabled() const { return op_ == Op::None; }
    // "Установить": commands enabled, and either both modules' reads that the analysis ran to its
    // end on still stand, or a write stopped at B may go on there.
    bool writeEnabled() const;
    Op openExchange() const { return op_; }

    Awaiting SwConnectState = Awaiting::None;    // or ReadSwitching
    Awaiting SwSetState = Awaiting::None;        // or WriteSwitching
    Awaiting SwResetState = Awaiting::None;      // or WriteSwitching of a reset
    int SwResetScope = 0;                        // 0 none, 1 one multiplexer, 2 both A and B
    Awaiting PendingLinksType = Awaiting::None;  // or ReadSwitching
    // 0 = multiplexer A, 1 = B, 2 = B alone (the reset of B).
    int CurrentMux = 0;
    // The answers of the read under way land here.
    MuxSnapshot SnapshotA{};
    MuxSnapshot SnapshotB{};
    // The block of the write or reset step under way.
    SwitchingBlock OutgoingSwitching{};

    // The partner sessions of the last analysis (0 before one found them).
    uint8_t PartnerSessionA() const { return analysis_ ? analysis_->snapshots.PartnerSessionA : 0; }
    uint8_t PartnerSessionB() const { return analysis_ ? analysis_->snapshots.PartnerSessionB : 0; }
    // The last analysis, as the cross-check left the two reads, and the modules they came from.
    struct Analysis {
        ModuleEndpoint moduleA, moduleB;
        uint64_t serialA = 0, serialB = 0;
        MuxSnapshot readA{}, readB{};  // as the modules answered
        PairSnapshots snapshots;       // as the cross-check repaired them
        bool ok = false;
        // The links the operator has seen in the matrices since: port of A, port of B.
        std::vector<std::pair<int, int>> shown;
    };
    const std::optional<Analysis>& analysis() const { return analysis_; }
    // The current-links window's read, while it is the module's current one.
    const SwitchingRead* linksRead() const;

  private:
    Step readStep(const PairChoice& now);
    Step stepAt(Op op);
    Step endReset(const PairChoice& now);
    Step finishRead();
    void endExchange();
    bool analysisStands() const;
    // The newest whole read of a module's switching: the pair's own or the current-links one.
    const SwitchingRead* switchingOf(const QString& ip, const QString& port) const;
    void warnOfRemovedHalves(const SwitchingBlock& outA, const SwitchingBlock& outB) const;
    void startFresh();

    ModuleReads& reads_;
    PortMatrix* matrix_ = nullptr;
    Op op_ = Op::None;
    std::optional<Analysis> analysis_;
    std::optional<SwitchingRead> readingA_;     // A's answer of the read under way
    std::optional<ModuleEndpoint> asked_;       // where the open read went
    std::optional<ModuleEndpoint> linksAsked_;  // where the current-links read went
    std::optional<uint64_t> linksSerial_;       // the current-links read the table shows
    MuxSnapshot LinksSnapshot{};

    // The blocks of the write or reset under way, built once at its start, where each goes, and
    // the reads they were built on.
    SwitchingBlock outA_{}, outB_{};
    std::array<QString, 2> address_, port_;
    std::array<std::optional<SwitchingRead>, 2> basis_;
    std::optional<SentCommand> sent_;
    // Commands each module had had when its block was built: a step finds the same, or stays.
    std::array<uint64_t, 2> expected_{};
    ResetTarget resetTarget_ = ResetTarget::None;
    ResetType resetType_ = ResetType::None;
    uint64_t builtAt_ = 0;  // the matrices' version the blocks were built from
    std::vector<std::pair<int, int>> pressedShown_;  // the links they showed then
    // A write or reset of both that stopped at B may go on there on the same press with the
    // same target while the matrices stayed as they were when its blocks were built and nothing
    // else went to B.
    struct Resumable {
        Op op;
        ResetTarget target;
        ResetType type;
        uint64_t matrixVersion;
        SentCommand sentB;
    };
    std::optional<Resumable> resume_;
};
