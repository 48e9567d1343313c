#include "flows/switchingpair.h"

#include <algorithm>

#include "link/protocol.h"
#include "link/shell.h"
#include "model/crosscheck.h"
#include "model/switchreset.h"

SwitchingPair Pair;

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

SwitchingBlock SwitchingOf(const MuxSnapshot& snapshot) {
    SwitchingBlock block;
    std::copy_n(snapshot.begin() + SnapshotOffset::Switching, kSwitchingBlockSize, block.begin());
    return block;
}

void PutSwitching(MuxSnapshot& snapshot, const SwitchingBlock& block) {
    std::copy(block.begin(), block.end(), snapshot.begin() + SnapshotOffset::Switching);
}

}  // namespace

void SwitchingPair::windowOpened(PortMatrix& matrix) {
    matrix_ = &matrix;
    SnapshotA.fill(0);
    SnapshotB.fill(0);
    PartnerSessionA = 0;
    PartnerSessionB = 0;
    CurrentMux = 0;
    SwConnectState = SwSetState = SwResetState = SwResetScope = 0;
    readA_.reset();
    readB_.reset();
    pendingA_.reset();
    resume_.reset();
    analysisOk_ = false;
    if (op_ != Op::Links)
        op_ = Op::None;
}

void SwitchingPair::windowClosed() {
    matrix_ = nullptr;
    if (op_ != Op::Links)
        op_ = Op::None;
    SwConnectState = SwSetState = SwResetState = SwResetScope = 0;
    CurrentMux = 0;
    readA_.reset();
    readB_.reset();
    pendingA_.reset();
    resume_.reset();
    analysisOk_ = false;
}

bool SwitchingPair::heldFor(const std::optional<HeldRead>& read, const QString& ip,
                            const QString& port) const {
    return read && ParseModuleEndpoint(ip, port) == read->module;
}

void SwitchingPair::written(const ModuleEndpoint& module) {
    if (links_ && links_->module == module)
        links_.reset();
}

void SwitchingPair::snapshotsDiscarded() {
    readA_.reset();
    readB_.reset();
    resume_.reset();
    analysisOk_ = false;
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
        readA_.reset();
        readB_.reset();
        pendingA_.reset();
        analysisOk_ = false;
    }
    const bool atA = CurrentMux == 0;
    const QString& address = atA ? now.ipA : now.ipB;
    const QString& port = atA ? now.portA : now.portB;
    if (CheckMuxAddress(address, port)) {
        // Refused at B, the read is over: nothing may resume there.
        CurrentMux = 0;
        SwConnectState = 0;
        endExchange();
        return {};
    }
    asked_ = ParseModuleEndpoint(address, port);
    op_ = Op::Read;
    SwConnectState = CmdReadSwitching;
    return {Op::Read, address, port, CmdReadSwitching};
}

SwitchingPair::Step SwitchingPair::finishRead(const PairChoice& now) {
    if (!pendingA_ || !asked_ || !matrix_) {
        CurrentMux = 0;
        endExchange();
        return {};
    }
    // The analysis works on what A really answered, whatever took SnapshotA's place meanwhile.
    SnapshotA = pendingA_->snapshot;
    const HeldRead answeredB{*asked_, SnapshotB, {}};
    const int result = CheckMuxSwitchSettings(*matrix_, now.ipA, now.ipB);
    if (result != 0)
        LogEvent(QStringLiteral("Ошибка анализа коммутационных настроек"));
    readA_ = HeldRead{pendingA_->module, pendingA_->snapshot, SnapshotA};
    readB_ = HeldRead{answeredB.module, answeredB.snapshot, SnapshotB};
    pendingA_.reset();
    analysisOk_ = result == 0;
    CurrentMux = 0;
    endExchange();
    return {};
}

// ---------------------------------------------------------------------------------------------
// Write both

SwitchingPair::Step SwitchingPair::pressWrite(const PairChoice& now) {
    if (!commandsEnabled() || !matrix_)
        return {};
    if (resume_ && resume_->op == Op::Write && resume_->matrixVersion == matrix_->version() &&
        ParseModuleEndpoint(now.ipB, now.portB) == resume_->moduleB) {
        // B's block as it was built at the start goes out again.
        resume_.reset();
        CurrentMux = 1;
        return writeStepAt(now);
    }
    startFresh();
    if (!analysisOk_ || !heldFor(readA_, now.ipA, now.portA) ||
        !heldFor(readB_, now.ipB, now.portB)) {
        LogEvent(kReadFirstWrite);
        return {};
    }
    MuxSnapshot a = readA_->analysed;
    MuxSnapshot b = readB_->analysed;
    matrix_->GridsToSnapshots(a, b, PartnerSessionA, PartnerSessionB);
    SnapshotA = a;
    SnapshotB = b;
    outA_ = SwitchingOf(a);
    outB_ = SwitchingOf(b);
    address_ = {now.ipA, now.ipB};
    port_ = {now.portA, now.portB};
    return writeStepAt(now);
}

SwitchingPair::Step SwitchingPair::writeStepAt(const PairChoice& now) {
    const int side = CurrentMux == 0 ? 0 : 1;
    if (CheckMuxAddress(address_[side], port_[side]))
        return sendFailed(now);
    OutgoingSwitching = side == 0 ? outA_ : outB_;
    if (const auto module = ParseModuleEndpoint(address_[side], port_[side]))
        written(*module);
    op_ = Op::Write;
    SwSetState = CmdWriteSwitching;
    return {Op::Write, address_[side], port_[side], CmdWriteSwitching};
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
        ParseModuleEndpoint(now.ipB, now.portB) == resume_->moduleB) {
        resume_.reset();
        CurrentMux = 1;
        SwResetScope = 2;
        return resetStepAt();
    }
    startFresh();
    resetType_ = now.resetType;
    if (now.resetType == ResetType::Selective) {
        if (!links)
            return {};
        if (std::none_of(links->chosen.begin(), links->chosen.end(), [](bool c) { return c; })) {
            LogEvent(QStringLiteral("Не выбрано ни одной сессии!"));
            return {};
        }
        if (CheckMuxAddress(links->ip, links->port))
            return {};
        if (!heldFor(links_, links->ip, links->port)) {
            LogEvent(kReadFirstLinks);
            return {};
        }
        MuxSnapshot s = links_->snapshot;
        UnlinkChosenSessions(s, links->chosen);
        outA_ = SwitchingOf(s);
        address_[0] = links->ip;
        port_[0] = links->port;
        resetTarget_ = ResetTarget::None;
        SwResetScope = 1;
        return resetStepAt();
    }
    const bool all = now.resetType == ResetType::All;
    const auto usable = [](const QString& ip, const QString& port, const QString& missing) {
        if (ip.isEmpty() || port.isEmpty()) {
            LogEvent(missing);
            return false;
        }
        return !CheckMuxAddress(ip, port);
    };
    const auto build = [all](const HeldRead& read) {
        MuxSnapshot s = read.snapshot;
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
    if (toA && !heldFor(readA_, now.ipA, now.portA)) {
        LogEvent(kReadFirstA);
        return {};
    }
    if (toB && !heldFor(readB_, now.ipB, now.portB)) {
        LogEvent(kReadFirstB);
        return {};
    }
    if (toA)
        outA_ = build(*readA_);
    if (toB)
        outB_ = build(*readB_);
    address_ = {now.ipA, now.ipB};
    port_ = {now.portA, now.portB};
    resetTarget_ = now.resetTarget;
    SwResetScope = toA && toB ? 2 : 1;
    CurrentMux = toA ? 0 : 2;
    return resetStepAt();
}

SwitchingPair::Step SwitchingPair::resetStepAt() {
    const int side = CurrentMux == 0 ? 0 : 1;
    OutgoingSwitching = side == 0 ? outA_ : outB_;
    if (const auto module = ParseModuleEndpoint(address_[side], port_[side]))
        written(*module);
    op_ = Op::Reset;
    SwResetState = CmdWriteSwitching;
    return {Op::Reset, address_[side], port_[side], CmdWriteSwitching};
}

SwitchingPair::Step SwitchingPair::endReset(const PairChoice& now) {
    if ((CurrentMux == 0 && SwResetScope == 1) || (CurrentMux == 1 && SwResetScope == 2) ||
        (CurrentMux == 2 && SwResetScope == 1)) {
        CurrentMux = 0;
        SwResetScope = 0;
    }
    endExchange();
    // Both multiplexers are read again, as if the operator had pressed "Соединиться".
    return pressRead(now);
}

// ---------------------------------------------------------------------------------------------
// Ends of the switching window's exchange

SwitchingPair::Step SwitchingPair::answered(uint8_t type, const PairChoice& now) {
    const bool atA = CurrentMux == 0;
    switch (op_) {
        case Op::Read:
            SwConnectState = 0;
            if (type != CmdReadSwitching) {
                LogEvent(QStringLiteral(
                    "Ошибочный ответ мультиплексора на команду запроса коммутационных настроек"));
                CurrentMux = 0;
                pendingA_.reset();
                endExchange();
                return {};
            }
            if (atA) {
                pendingA_ = HeldRead{*asked_, SnapshotA, {}};
                CurrentMux = 1;
                return readStep(now);
            }
            return finishRead(now);
        case Op::Write:
            SwSetState = 0;
            if (type == CmdWriteSwitching) {
                LogEvent(atA ? QStringLiteral("Текущие коммутационные настройки мультиплексора А "
                                              "успешно сохранены")
                             : QStringLiteral("Текущие коммутационные настройки мультиплексора В "
                                              "успешно сохранены"));
                // The module holds what was written: the next write builds on that.
                std::optional<HeldRead>& read = atA ? readA_ : readB_;
                if (read) {
                    PutSwitching(read->snapshot, atA ? outA_ : outB_);
                    PutSwitching(read->analysed, atA ? outA_ : outB_);
                }
            } else {
                LogEvent(WrongSaveAnswer(atA));
            }
            if (atA) {
                // B is written whatever A answered.
                CurrentMux = 1;
                return writeStepAt(now);
            }
            CurrentMux = 0;
            endExchange();
            return {};
        case Op::Reset:
            SwResetState = 0;
            if (type == CmdWriteSwitching) {
                LogEvent(atA ? QStringLiteral("Сброс настроек мультиплексора А произведен")
                             : QStringLiteral("Сброс настроек мультиплексора B произведен"));
            } else {
                LogEvent(WrongSaveAnswer(atA));
            }
            if (atA && SwResetScope == 2) {
                CurrentMux = 1;
                return resetStepAt();
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

SwitchingPair::Step SwitchingPair::sendFailed(const PairChoice&) {
    const bool atB = CurrentMux == 1;
    switch (op_) {
        case Op::Read:
            SwConnectState = 0;
            CurrentMux = 0;
            pendingA_.reset();
            break;
        case Op::Write:
        case Op::Reset: {
            const bool write = op_ == Op::Write;
            (write ? SwSetState : SwResetState) = 0;
            const auto moduleB = ParseModuleEndpoint(address_[1], port_[1]);
            if (atB && moduleB && (write || SwResetScope == 2)) {
                resume_ = Resumable{op_, write ? ResetTarget::None : resetTarget_, resetType_,
                                    matrix_ ? matrix_->version() : 0, *moduleB};
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
    SnapshotA.fill(0);
    SnapshotB.fill(0);
    snapshotsDiscarded();
    links_.reset();
    if (CheckMuxAddress(ip, port))
        return {};
    linksAsked_ = ParseModuleEndpoint(ip, port);
    op_ = Op::Links;
    PendingLinksType = CmdReadSwitching;
    return {Op::Links, ip, port, CmdReadSwitching};
}

bool SwitchingPair::linksAnswered(uint8_t type) {
    if (op_ != Op::Links)
        return false;
    PendingLinksType = 0;
    endExchange();
    if (type != CmdReadSwitching) {
        LogEvent(
            QStringLiteral("Ошибочный ответ мультиплексора на запрос коммутационных настроек!"));
        return false;
    }
    links_ = HeldRead{*linksAsked_, SnapshotA, SnapshotA};
    return true;
}

void SwitchingPair::linksTimedOut() {
    if (op_ != Op::Links)
        return;
    LogEvent(QStringLiteral("Нет ответа от мультиплексора A на запрос коммутационных настроек"));
    SnapshotA.fill(0);
    SnapshotB.fill(0);
    linksSendFailed();
}

void SwitchingPair::linksSendFailed() {
    if (op_ != Op::Links)
        return;
    PendingLinksType = 0;
    endExchange();
}

void SwitchingPair::linksWindowClosed() {
    linksSendFailed();
    links_.reset();
}
