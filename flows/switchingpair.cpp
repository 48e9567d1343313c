#include "flows/switchingpair.h"

#include <algorithm>

#include "flows/commands.h"
#include "link/protocol.h"
#include "link/shell.h"
#include "model/crosscheck.h"
#include "model/switchreset.h"

namespace {

const QString kSameAddresses = QStringLiteral("Не допустимо использование одинаковых Ip-адресов!");
const QString kNoAddressA = QStringLiteral("Не задан Ip-адрес или номер порта мультиплексора А");
const QString kNoAddressB = QStringLiteral("Не задан Ip-адрес или номер порта мультиплексора B");
const QString kReadFirstWrite =
    QStringLiteral("Перед записью считайте коммутационные настройки мультиплексоров А и В");
const QString kReadFirstA =
    QStringLiteral("Перед сбросом считайте коммутационные настройки мультиплексора А");
const QString kReadFirstB =
    QStringLiteral("Перед сбросом считайте коммутационные настройки мультиплексора В");
const QString kOtherModules = QStringLiteral(
    "Адреса мультиплексоров не те, что были считаны: считайте коммутационные настройки снова");
const QString kReadFirstLinks =
    QStringLiteral("Перед сбросом считайте текущие связи мультиплексора в окне \"Текущие связи\"");

QString NoSaveAnswer(bool atA) {
    return atA ? QStringLiteral(
                     "Нет ответа от мультиплексора A на команду сохранения коммутационных "
                     "настроек!")
               : QStringLiteral(
                     "Нет ответа от мультиплексора B на команду сохранения коммутационных "
                     "настроек!");
}
QString WrongSaveAnswer(bool atA) {
    return atA ? QStringLiteral(
                     "Ошибочный ответ мультиплексора A на команду сохранения коммутационных "
                     "настроек!")
               : QStringLiteral(
                     "Ошибочный ответ мультиплексора B на команду сохранения коммутационных "
                     "настроек!");
}

// One module under two spellings is still one module.
bool SameAddress(const QString& a, const QString& b) {
    uint8_t x[4];
    uint8_t y[4];
    if (ParseIpv4(a, x) && ParseIpv4(b, y))
        return std::equal(x, x + 4, y);
    return a == b;
}

// "А ТМО1": a port of one side as the matrices name it.
QString PortText(bool atA, int port) {
    const PortLine line = LineOfPort(port / kChannelCount, port % kChannelCount);
    return (atA ? QStringLiteral("А ") : QStringLiteral("В ")) + PortName(line.matrix, line.line);
}

SwitchingBlock SwitchingOf(const MuxSnapshot& snapshot) {
    SwitchingBlock block;
    std::copy_n(snapshot.begin() + SnapshotOffset::Switching, kSwitchingBlockSize, block.begin());
    return block;
}

void PutSwitching(MuxSnapshot& snapshot, const SwitchingBlock& block) {
    std::copy(block.begin(), block.end(), snapshot.begin() + SnapshotOffset::Switching);
}

// The links the matrices show, as pairs of ports: A's, B's.
std::vector<std::pair<int, int>> LinksShown(const PortMatrix& matrix) {
    std::vector<std::pair<int, int>> links;
    for (Matrix m : {Matrix::Tmo, Matrix::Tf}) {
        for (int row = 1; row <= LinesOf(m); ++row) {
            for (int column = 1; column <= LinesOf(m); ++column) {
                if (matrix.mark(m, column, row) != CellMark::Link)
                    continue;
                const PortId a = PortOfLine(m, row);
                const PortId b = PortOfLine(m, column);
                links.emplace_back(PortIndex(a.group, a.channel), PortIndex(b.group, b.channel));
            }
        }
    }
    return links;
}

const uint8_t* EntryIn(const MuxSnapshot& snapshot, int port) {
    return snapshot.data() + SnapshotOffset::Switching + PortEntryOffsetOf(port);
}

}  // namespace

void SwitchingPair::windowOpened(PortMatrix& matrix) {
    windowClosed();
    matrix_ = &matrix;
}

// The window's exchange, analysis and any write to go on with end with it; what the modules
// answered stays with the owner of reads.
void SwitchingPair::windowClosed() {
    matrix_ = nullptr;
    SnapshotA.fill(0);
    SnapshotB.fill(0);
    CurrentMux = 0;
    SwConnectState = SwSetState = SwResetState = Awaiting::None;
    SwResetScope = 0;
    analysis_.reset();
    readingA_.reset();
    resume_.reset();
    if (op_ != Op::Links)
        op_ = Op::None;
}

const SwitchingRead* SwitchingPair::switchingOf(const QString& ip, const QString& port) const {
    const auto module = ParseModuleEndpoint(ip, port);
    if (!module)
        return nullptr;
    const SwitchingRead* own = reads_.switching(ReadKind::Switching, *module);
    const SwitchingRead* links = reads_.switching(ReadKind::Links, *module);
    if (own && links)
        return own->serial > links->serial ? own : links;
    return own ? own : links;
}

const SwitchingRead* SwitchingPair::linksRead() const {
    if (!linksAsked_ || !linksSerial_ ||
        !reads_.current(ReadKind::Links, *linksAsked_, *linksSerial_))
        return nullptr;
    return reads_.switching(ReadKind::Links, *linksAsked_);
}

bool SwitchingPair::analysisStands() const {
    return analysis_ && analysis_->ok &&
           reads_.current(ReadKind::Switching, analysis_->moduleA, analysis_->serialA) &&
           reads_.current(ReadKind::Switching, analysis_->moduleB, analysis_->serialB);
}

bool SwitchingPair::writeEnabled() const {
    if (!commandsEnabled())
        return false;
    if (resume_ && resume_->op == Op::Write)
        return true;
    return analysisStands();
}

void SwitchingPair::endExchange() {
    op_ = Op::None;
}

// A press that does not go on where an earlier write or reset stopped starts from its own first
// module.
void SwitchingPair::startFresh() {
    resume_.reset();
    CurrentMux = 0;
    SwResetScope = 0;
}

// ---------------------------------------------------------------------------------------------
// Read both

SwitchingPair::Step SwitchingPair::pressRead(const PairChoice& now) {
    if (!commandsEnabled() || !matrix_)
        return {};
    if (SameAddress(now.ipA, now.ipB)) {
        LogEvent(kSameAddresses);
        return {};
    }
    startFresh();
    return readStep(now);
}

SwitchingPair::Step SwitchingPair::readStep(const PairChoice& now) {
    if (CurrentMux == 0) {
        SnapshotA.fill(0);
        SnapshotB.fill(0);
        analysis_.reset();
        readingA_.reset();
    }
    const bool atA = CurrentMux == 0;
    const QString& address = atA ? now.ipA : now.ipB;
    const QString& port = atA ? now.portA : now.portB;
    if (CheckMuxAddress(address, port)) {
        // Refused at B, the read is over: nothing may resume there.
        CurrentMux = 0;
        SwConnectState = Awaiting::None;
        endExchange();
        return {};
    }
    asked_ = ParseModuleEndpoint(address, port);
    op_ = Op::Read;
    SwConnectState = Awaiting::ReadSwitching;
    return {Op::Read, address, port, CmdReadSwitching};
}

SwitchingPair::Step SwitchingPair::finishRead() {
    CurrentMux = 0;
    endExchange();
    if (!readingA_ || !asked_ || !matrix_)
        return {};
    const SwitchingRead& readB = reads_.tookSwitching(ReadKind::Switching, *asked_, SnapshotB);
    // The analysis works on what the two modules answered, and a session leads to the other side
    // when its destination is the module that answered there, whatever the boxes show by now.
    Analysis a;
    a.moduleA = readingA_->module;
    a.moduleB = readB.module;
    a.serialA = readingA_->serial;
    a.serialB = readB.serial;
    a.readA = a.snapshots.SnapshotA = readingA_->block;
    a.readB = a.snapshots.SnapshotB = readB.block;
    readingA_.reset();
    const int result = CheckMuxSwitchSettings(*matrix_, a.snapshots, a.moduleA, a.moduleB);
    if (result != 0)
        LogEvent(QStringLiteral("Ошибка анализа коммутационных настроек"));
    a.ok = result == 0;
    a.shown = LinksShown(*matrix_);
    analysis_ = std::move(a);
    return {};
}

// ---------------------------------------------------------------------------------------------
// Write both

// Halves of links that a write removes although the matrices never showed them: each is named
// before it goes, so that nothing disappears silently.
void SwitchingPair::warnOfRemovedHalves(const SwitchingBlock& outA,
                                        const SwitchingBlock& outB) const {
    const Analysis& a = *analysis_;
    for (const bool atA : {true, false}) {
        const MuxSnapshot& read = atA ? a.readA : a.readB;
        const MuxSnapshot& other = atA ? a.readB : a.readA;
        const SwitchingBlock& out = atA ? outA : outB;
        const uint8_t partner = atA ? a.snapshots.PartnerSessionA : a.snapshots.PartnerSessionB;
        for (int port = 0; port < kPortCount; ++port) {
            const uint8_t* e = EntryIn(read, port);
            const int farGroup = GroupOfCrossPath(e[PortEntryOffset::RemoteCrossPath]);
            const int farChannel = e[PortEntryOffset::RemoteChannel];
            if (e[PortEntryOffset::LinkSession] != partner || farGroup < 0 ||
                farChannel >= kChannelCount)
                continue;
            const int farPort = PortIndex(farGroup, farChannel);
            const auto pair = atA ? std::pair(port, farPort) : std::pair(farPort, port);
            if (std::find(a.shown.begin(), a.shown.end(), pair) != a.shown.end() ||
                std::find(pressedShown_.begin(), pressedShown_.end(), pair) != pressedShown_.end())
                continue;  // the operator saw it, and the matrices say what becomes of it
            const uint8_t* now = out.data() + PortEntryOffsetOf(port);
            if (std::equal(now + PortEntryOffset::LinkSession,
                           now + PortEntryOffset::RemoteCrossPath + 1,
                           e + PortEntryOffset::LinkSession))
                continue;
            const QString link =
                PortText(atA, port) + QStringLiteral(" → ") + PortText(!atA, farPort);
            if (IsTmoChannel(port % kChannelCount) != IsTmoChannel(farChannel))
                LogEvent(QStringLiteral("Будет удалена связь портов разных типов: ") + link);
            else if (other[SnapshotOffset::Availability + farPort] == 0)
                LogEvent(QStringLiteral("Будет удалена связь с недоступным портом: ") + link);
            else
                LogEvent(QStringLiteral("Будет удалена односторонняя связь: ") + link);
        }
    }
}

SwitchingPair::Step SwitchingPair::pressWrite(const PairChoice& now) {
    if (!commandsEnabled() || !matrix_)
        return {};
    if (resume_ && resume_->op == Op::Write && resume_->matrixVersion == matrix_->version() &&
        ParseModuleEndpoint(now.ipB, now.portB) == resume_->sentB.module &&
        reads_.commandsTo(resume_->sentB.module) == resume_->sentB.number) {
        // B's block as it was built at the start goes out again: the one command B had since
        // its read is this very block.
        expected_[1] = resume_->sentB.number;
        resume_.reset();
        CurrentMux = 1;
        return stepAt(Op::Write);
    }
    startFresh();
    if (!analysisStands()) {
        LogEvent(kReadFirstWrite);
        return {};
    }
    if (ParseModuleEndpoint(now.ipA, now.portA) != analysis_->moduleA ||
        ParseModuleEndpoint(now.ipB, now.portB) != analysis_->moduleB) {
        LogEvent(kOtherModules);
        return {};
    }
    MuxSnapshot a = analysis_->snapshots.SnapshotA;
    MuxSnapshot b = analysis_->snapshots.SnapshotB;
    matrix_->GridsToSnapshots(a, b, PartnerSessionA(), PartnerSessionB());
    outA_ = SwitchingOf(a);
    outB_ = SwitchingOf(b);
    pressedShown_ = LinksShown(*matrix_);
    warnOfRemovedHalves(outA_, outB_);
    builtAt_ = matrix_->version();
    address_ = {now.ipA, now.ipB};
    port_ = {now.portA, now.portB};
    basis_ = {*reads_.switching(ReadKind::Switching, analysis_->moduleA),
              *reads_.switching(ReadKind::Switching, analysis_->moduleB)};
    expected_ = {reads_.commandsTo(analysis_->moduleA), reads_.commandsTo(analysis_->moduleB)};
    return stepAt(Op::Write);
}

// The step of a write or reset at CurrentMux: its block goes out, and from now on no read of that
// module stands.
SwitchingPair::Step SwitchingPair::stepAt(Op op) {
    Awaiting& state = op == Op::Write ? SwSetState : SwResetState;
    sent_.reset();
    const int side = CurrentMux == 0 ? 0 : 1;
    const auto module = ParseModuleEndpoint(address_[side], port_[side]);
    if (!module) {
        // The press checked the address already; should it still be wrong, the log says how.
        CheckMuxAddress(address_[side], port_[side]);
        return sendFailed({});
    }
    if (reads_.commandsTo(*module) != expected_[side]) {
        // Another window sent the module a command since the press: the block was built from a
        // read that no longer stands, so it stays here and the operation ends.
        LogEvent(op == Op::Write                     ? kReadFirstWrite
                 : resetTarget_ == ResetTarget::None ? kReadFirstLinks
                 : side == 0                         ? kReadFirstA
                                                     : kReadFirstB);
        state = Awaiting::None;
        CurrentMux = 0;
        SwResetScope = 0;
        resume_.reset();
        endExchange();
        return {};
    }
    OutgoingSwitching = side == 0 ? outA_ : outB_;
    sent_ = reads_.sending(*module);
    op_ = op;
    state = Awaiting::WriteSwitching;
    return {op, address_[side], port_[side], CmdWriteSwitching};
}

// ---------------------------------------------------------------------------------------------
// Reset

SwitchingPair::Step SwitchingPair::pressReset(const PairChoice& now,
                                              const std::optional<LinksChoice>& links) {
    if (!commandsEnabled() || !matrix_)
        return {};
    if (resume_ && resume_->op == Op::Reset && now.resetTarget == ResetTarget::Both &&
        resume_->target == ResetTarget::Both && resume_->type == now.resetType &&
        resume_->matrixVersion == matrix_->version() &&
        ParseModuleEndpoint(now.ipB, now.portB) == resume_->sentB.module &&
        reads_.commandsTo(resume_->sentB.module) == resume_->sentB.number) {
        expected_[1] = resume_->sentB.number;
        resume_.reset();
        CurrentMux = 1;
        SwResetScope = 2;
        return stepAt(Op::Reset);
    }
    startFresh();
    resetType_ = now.resetType;
    basis_ = {};
    if (now.resetType == ResetType::Selective) {
        if (!links)
            return {};
        if (std::none_of(links->chosen.begin(), links->chosen.end(), [](bool c) { return c; })) {
            LogEvent(QStringLiteral("Не выбрано ни одной сессии!"));
            return {};
        }
        if (CheckMuxAddress(links->ip, links->port))
            return {};
        const SwitchingRead* read = linksRead();
        if (!read || ParseModuleEndpoint(links->ip, links->port) != read->module) {
            LogEvent(kReadFirstLinks);
            return {};
        }
        expected_[0] = reads_.commandsTo(read->module);
        MuxSnapshot s = read->block;
        UnlinkChosenSessions(s, links->chosen);
        outA_ = SwitchingOf(s);
        address_[0] = links->ip;
        port_[0] = links->port;
        resetTarget_ = ResetTarget::None;
        SwResetScope = 1;
        return stepAt(Op::Reset);
    }
    const bool all = now.resetType == ResetType::All;
    const auto usable = [](const QString& ip, const QString& port, const QString& missing) {
        if (ip.isEmpty() || port.isEmpty()) {
            LogEvent(missing);
            return false;
        }
        return !CheckMuxAddress(ip, port);
    };
    const auto build = [all](const SwitchingRead& read) {
        MuxSnapshot s = read.block;
        if (all)
            UnlinkAllPorts(s);
        return SwitchingOf(s);
    };
    const bool toA = now.resetTarget == ResetTarget::A || now.resetTarget == ResetTarget::Both;
    const bool toB = now.resetTarget == ResetTarget::B || now.resetTarget == ResetTarget::Both;
    if (!toA && !toB)
        return {};
    if (toA && !usable(now.ipA, now.portA, kNoAddressA))
        return {};
    if (toB && !usable(now.ipB, now.portB, kNoAddressB))
        return {};
    // Each module's own whole read is enough: a reset of A does not wait for B.
    const SwitchingRead* readA = toA ? switchingOf(now.ipA, now.portA) : nullptr;
    const SwitchingRead* readB = toB ? switchingOf(now.ipB, now.portB) : nullptr;
    if (toA && !readA) {
        LogEvent(kReadFirstA);
        return {};
    }
    if (toB && !readB) {
        LogEvent(kReadFirstB);
        return {};
    }
    if (toA) {
        outA_ = build(*readA);
        expected_[0] = reads_.commandsTo(readA->module);
    }
    if (toB) {
        outB_ = build(*readB);
        expected_[1] = reads_.commandsTo(readB->module);
    }
    address_ = {now.ipA, now.ipB};
    port_ = {now.portA, now.portB};
    resetTarget_ = now.resetTarget;
    builtAt_ = matrix_->version();
    SwResetScope = toA && toB ? 2 : 1;
    CurrentMux = toA ? 0 : 2;
    return stepAt(Op::Reset);
}

SwitchingPair::Step SwitchingPair::endReset(const PairChoice& now) {
    // Every reset ends here at its last module (A alone, B after A, or B alone): the next press
    // starts afresh.
    CurrentMux = 0;
    SwResetScope = 0;
    endExchange();
    // Both multiplexers are read again, as if the operator had pressed "Соединиться".
    return pressRead(now);
}

// ---------------------------------------------------------------------------------------------
// Ends of the switching window's exchange

MuxSnapshot* SwitchingPair::answerTarget() {
    if (op_ == Op::Links)
        return &LinksSnapshot;
    if (op_ != Op::Read)
        return nullptr;
    return CurrentMux == 0 ? &SnapshotA : CurrentMux == 1 ? &SnapshotB : nullptr;
}

SwitchingPair::Step SwitchingPair::answered(uint8_t type, const PairChoice& now) {
    const bool atA = CurrentMux == 0;
    switch (op_) {
        case Op::Read:
            SwConnectState = Awaiting::None;
            if (type != CmdReadSwitching) {
                LogEvent(QStringLiteral(
                    "Ошибочный ответ мультиплексора на команду запроса коммутационных настроек"));
                CurrentMux = 0;
                readingA_.reset();
                endExchange();
                return {};
            }
            if (atA) {
                // A's whole answer is A's read from now on, whatever B then does.
                readingA_ = reads_.tookSwitching(ReadKind::Switching, *asked_, SnapshotA);
                CurrentMux = 1;
                return readStep(now);
            }
            return finishRead();
        case Op::Write:
            SwSetState = Awaiting::None;
            if (type == CmdWriteSwitching) {
                LogEvent(atA ? QStringLiteral("Текущие коммутационные настройки мультиплексора А "
                                              "успешно сохранены")
                             : QStringLiteral("Текущие коммутационные настройки мультиплексора В "
                                              "успешно сохранены"));
                // The module holds what was written: the next write may build on that, as long
                // as nothing else went to it since.
                const SwitchingBlock& written = atA ? outA_ : outB_;
                if (basis_[atA ? 0 : 1] && sent_) {
                    const auto renewed =
                        reads_.confirmedSwitching(*sent_, *basis_[atA ? 0 : 1], written);
                    if (renewed && analysis_) {
                        // What the matrices showed at the press is what the module holds.
                        for (const auto& link : pressedShown_) {
                            if (std::find(analysis_->shown.begin(), analysis_->shown.end(), link) ==
                                analysis_->shown.end())
                                analysis_->shown.push_back(link);
                        }
                        (atA ? analysis_->serialA : analysis_->serialB) = renewed->serial;
                        PutSwitching(atA ? analysis_->readA : analysis_->readB, written);
                        PutSwitching(
                            atA ? analysis_->snapshots.SnapshotA : analysis_->snapshots.SnapshotB,
                            written);
                    }
                }
            } else {
                LogEvent(WrongSaveAnswer(atA));
            }
            if (atA) {
                // B is written whatever A answered.
                CurrentMux = 1;
                return stepAt(Op::Write);
            }
            CurrentMux = 0;
            endExchange();
            return {};
        case Op::Reset:
            SwResetState = Awaiting::None;
            if (type == CmdWriteSwitching) {
                LogEvent(atA ? QStringLiteral("Сброс настроек мультиплексора А произведен")
                             : QStringLiteral("Сброс настроек мультиплексора B произведен"));
            } else {
                LogEvent(WrongSaveAnswer(atA));
            }
            if (atA && SwResetScope == 2) {
                CurrentMux = 1;
                return stepAt(Op::Reset);
            }
            return endReset(now);
        case Op::None:
        case Op::Links:
            break;
    }
    return {};
}

SwitchingPair::Step SwitchingPair::timedOut(const PairChoice& now) {
    switch (op_) {
        case Op::Read:
            LogEvent(
                CurrentMux == 0
                    ? QStringLiteral(
                          "Нет ответа от мультиплексора A на запрос коммутационных настроек!")
                    : QStringLiteral(
                          "Нет ответа от мультиплексора B на запрос коммутационных настроек!"));
            break;
        case Op::Write:
        case Op::Reset:
            LogEvent(NoSaveAnswer(CurrentMux == 0));
            break;
        case Op::None:
        case Op::Links:
            return {};
    }
    return sendFailed(now);
}

SwitchingPair::Step SwitchingPair::ended(Sender sender, AnswerTarget& window,
                                         const PairChoice& now) {
    if (sender == Sender::Answer)
        return answered(ParseAnswer(window), now);
    if (sender == Sender::Timeout)
        return timedOut(now);
    return sendFailed(now);  // its line is in the log already
}

SwitchingPair::Step SwitchingPair::sendFailed(const PairChoice&) {
    const bool atB = CurrentMux == 1;
    switch (op_) {
        case Op::Read:
            SwConnectState = Awaiting::None;
            CurrentMux = 0;
            readingA_.reset();
            break;
        case Op::Write:
        case Op::Reset: {
            const bool write = op_ == Op::Write;
            (write ? SwSetState : SwResetState) = Awaiting::None;
            if (atB && sent_ && (write || SwResetScope == 2)) {
                resume_ = Resumable{op_, write ? ResetTarget::None : resetTarget_, resetType_,
                                    builtAt_, *sent_};
            } else {
                CurrentMux = 0;
                SwResetScope = 0;
            }
            break;
        }
        case Op::None:
        case Op::Links:
            return {};
    }
    endExchange();
    return {};
}

// ---------------------------------------------------------------------------------------------
// The current-links window

SwitchingPair::Step SwitchingPair::pressLinks(const QString& ip, const QString& port) {
    if (!commandsEnabled())
        return {};
    LinksSnapshot.fill(0);
    linksSerial_.reset();
    if (CheckMuxAddress(ip, port))
        return {};
    linksAsked_ = ParseModuleEndpoint(ip, port);
    op_ = Op::Links;
    PendingLinksType = Awaiting::ReadSwitching;
    return {Op::Links, ip, port, CmdReadSwitching};
}

bool SwitchingPair::linksAnswered(uint8_t type) {
    if (op_ != Op::Links)
        return false;
    PendingLinksType = Awaiting::None;
    endExchange();
    if (type != CmdReadSwitching) {
        LogEvent(
            QStringLiteral("Ошибочный ответ мультиплексора на запрос коммутационных настроек!"));
        return false;
    }
    linksSerial_ = reads_.tookSwitching(ReadKind::Links, *linksAsked_, LinksSnapshot).serial;
    return true;
}

void SwitchingPair::linksTimedOut() {
    if (op_ != Op::Links)
        return;
    LogEvent(QStringLiteral("Нет ответа от мультиплексора A на запрос коммутационных настроек"));
    linksSendFailed();
}

void SwitchingPair::linksSendFailed() {
    if (op_ != Op::Links)
        return;
    PendingLinksType = Awaiting::None;
    endExchange();
}

void SwitchingPair::linksWindowClosed() {
    linksSendFailed();
    linksSerial_.reset();
}
