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

#include "link/codecs.h"
#include "model/configblock.h"
#include "model/portmodel.h"
#include "model/switchblock.h"

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

// A whole read of one module's switching answer, and where it came from. A reset builds on what
// the module answered; a write on the same after the cross-check's repairs, which it shows.
struct HeldRead {
    ModuleEndpoint module;
    MuxSnapshot snapshot{};
    MuxSnapshot analysed{};
};

class SwitchingPair {
  public:
    enum class Op { None, Read, Write, Reset, Links };

    // What the window does next: send `type` of group 3 to address:port for the flow `op` (a
    // write's block is already in OutgoingSwitching), or nothing.
    struct Step {
        Op op = Op::None;
        QString address, port;
        uint8_t type = 0;
        bool sends() const { return op != Op::None; }
    };

    // The switching window opens (snapshots, partners and CurrentMux start from zero) or closes
    // (its exchange is abandoned). The matrices belong to the window; the flow fills them.
    void windowOpened(PortMatrix& matrix);
    void windowClosed();

    // Presses of "Соединиться", "Установить" and "Сброс". A press while an exchange of the pair or
    // of the current-links window is open does nothing.
    Step pressRead(const PairChoice& now);
    Step pressWrite(const PairChoice& now);
    Step pressReset(const PairChoice& now, const std::optional<LinksChoice>& links);

    // The end of the open exchange of the switching window: the answer's type as ParseAnswer
    // returned it (a read answer is then in the snapshot of CurrentMux), its time-out, or a send
    // that failed (already logged).
    Step answered(uint8_t type, const PairChoice& now);
    Step timedOut(const PairChoice& now);
    Step sendFailed(const PairChoice& now);

    // The current-links window: its press, and the end of its exchange. `linksAnswered` is true
    // when the table is to be filled from SnapshotA.
    Step pressLinks(const QString& ip, const QString& port);
    bool linksAnswered(uint8_t type);
    void linksTimedOut();
    void linksSendFailed();
    void linksWindowClosed();

    // Whether the command controls of both windows may be enabled: no exchange of either is open.
    bool commandsEnabled() const { return op_ == Op::None; }
    // "Установить": commands enabled, both modules read whole and the analysis ran to its end.
    bool writeEnabled() const { return commandsEnabled() && readA_ && readB_ && analysisOk_; }
    Op openExchange() const { return op_; }

    // The snapshots were emptied or replaced outside the pair's reads.
    void snapshotsDiscarded();

    int SwConnectState = 0;  // 0 idle, 32 awaiting CmdReadSwitching
    int SwSetState = 0;      // 0 idle, 64 awaiting CmdWriteSwitching
    int SwResetState = 0;    // 0 idle, 64 awaiting CmdWriteSwitching of a reset
    int SwResetScope = 0;    // 0 none, 1 one multiplexer, 2 both A and B
    int PendingLinksType = 0;

    const std::optional<HeldRead>& readA() const { return readA_; }
    const std::optional<HeldRead>& readB() const { return readB_; }
    const std::optional<HeldRead>& linksRead() const { return links_; }

  private:
    Step readStep(const PairChoice& now);
    Step writeStepAt(const PairChoice& now);
    Step resetStepAt();
    Step endReset(const PairChoice& now);
    Step finishRead(const PairChoice& now);
    void endExchange();
    bool heldFor(const std::optional<HeldRead>& read, const QString& ip, const QString& port) const;
    // Something was sent to `module`: the current-links read of it no longer tells what it holds.
    void written(const ModuleEndpoint& module);
    void startFresh();

    PortMatrix* matrix_ = nullptr;
    Op op_ = Op::None;
    std::optional<HeldRead> readA_, readB_, links_;
    std::optional<HeldRead> pendingA_;          // A's answer of the read under way
    std::optional<ModuleEndpoint> asked_;       // where the open read went
    std::optional<ModuleEndpoint> linksAsked_;  // where the current-links read went
    bool analysisOk_ = false;

    // The blocks of the write or reset under way, built once at its start, and where each goes.
    SwitchingBlock outA_{}, outB_{};
    std::array<QString, 2> address_, port_;
    ResetTarget resetTarget_ = ResetTarget::None;
    ResetType resetType_ = ResetType::None;
    // A write or reset of both that stopped at B may go on there on the same press with the
    // same target while the matrices stayed as they were.
    struct Resumable {
        Op op;
        ResetTarget target;
        ResetType type;
        uint64_t matrixVersion;
        ModuleEndpoint moduleB;
    };
    std::optional<Resumable> resume_;
};

// The one pair of the program, like the snapshots it reads into. GUI thread only: driven by the
// switching and the current-links windows, which also ask it what their controls may allow.
extern SwitchingPair Pair;
