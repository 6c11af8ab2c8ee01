// SPDX-License-Identifier: MIT
#include "vintrel/learn/learn_controller.h"

#include <cstring>
#include <exception>

#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/learn/meters.h"
#include "vintrel/platform/last_error.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::learn {

namespace {

constexpr std::int32_t kAbortStop = -1;
constexpr std::int32_t kHookAcceptBurst = -1;
constexpr std::int32_t kHookInject = -2;
constexpr std::int16_t kProgressEnd = 255;

const QString kNotCompatible = QStringLiteral(
    "The Korvex Driver Installed on your System is not compatible with this application. "
    "Please update your Korvex API driver (KRVXDRV.DLL)!");

// Last-error values of a learn call that could not start because of the device or its
// service, not because the library is unsuited; each is said in words.
struct CannotStart {
    std::uint32_t error;
    const char *text;
};
constexpr CannotStart kCannotStart[] = {
    {ERR_LEARN_BUSY, "Another program is learning with the device; try again when it is done."},
    {ERR_COMM_FAILED,
     "The Korvex device or its service stopped answering; check the device and try again."},
    {ERR_DEVICE_NOT_FOUND, "The Korvex device is not connected; connect it and try again."},
    {ERR_DRIVER_NOT_FOUND, "The Korvex device service is not running; start it and try again."},
    {ERR_NOT_SUPPORTED, "The Korvex device cannot learn codes."},
};

QString cannotStartText(std::uint32_t error) {
    for (const CannotStart &row : kCannotStart) {
        if (row.error == error) {
            return QString::fromLatin1(row.text);
        }
    }
    return {};
}

const QString kAnswerRefused = QStringLiteral(
    "The driver refused this answer, so the learning program did not get it (an injected "
    "code must be a valid Pronto code). Its learn goes on: you can answer it again.");

// Why text cannot go into hookBuffer as single-byte text, or an empty string if it can.
QString injectRefusal(const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit > 0xFF) {
            const QString code =
                QStringLiteral("%1").arg(static_cast<unsigned>(unit), 4, 16, QLatin1Char('0'));
            return QStringLiteral(
                       "The IR code in the window cannot be injected: character %1 (U+%2) has "
                       "no single-byte code. Only ISO-8859-1 characters can be sent.")
                .arg(i + 1)
                .arg(code.toUpper());
        }
    }
    if (text.size() > kMaxInjectLength) {
        return QStringLiteral(
                   "The IR code in the window cannot be injected: it is %1 characters long, "
                   "and at most %2 fit.")
            .arg(text.size())
            .arg(kMaxInjectLength);
    }
    return {};
}

}  // namespace

QString trimAtNull(const QString &text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

void LearnController::startLearn(std::int32_t format) {
    ProcessState &state = processState();
    if (state.deviceHandle == 0) {
        return;
    }
    storeAbortWord(state.learnAbort, 0);
    state.inLearn = true;
    state.learnMode = format;
    answered_ = 0;
    if (format >= 0) {
        std::uint32_t error = 0;
        try {
            unhookDriver();
            platform::setLastError(0);
            state.driver.learnIR(state.deviceHandle, format, state.hookBuffer.data(),
                                 &device::learnCallback, nullptr, &state.learnAbort, 0, -1, 0);
            error = platform::lastError();
        } catch (const platform::RuntimeError &) {
            // No learn runs: the window goes back to idle and hooked before the caller
            // reports this error (a second error on the way back is not reported).
            try {
                finishLearn(false);
            } catch (const platform::RuntimeError &) {
            }
            throw;
        }
        if (error != ERROR_IO_PENDING) {
            const QString why = cannotStartText(error);
            if (!why.isEmpty()) {
                finishLearn(false);
                view_.showError(why);
                return;
            }
            view_.showError(kNotCompatible);
        }
        view_.setVisible(Control::cbLearnCancel, true);
        view_.setVisible(Control::cbInjectIR, true);
        view_.setEnabled(Control::cbInjectIR, false);
        view_.setEnabled(Control::mnuLrnInject, false);
    } else {
        view_.setVisible(Control::cbLearnCancel, false);
        view_.setVisible(Control::cbInjectIR, true);
        view_.setEnabled(Control::cbInjectIR, view_.isEnabled(Control::cbTransmitIRCode));
        view_.setEnabled(Control::mnuLrnInject, true);
    }
    view_.setEnabled(Control::frmLearn_cbLearnAsBurst, false);
    view_.setEnabled(Control::frmLearn_LrnTimer, false);
    view_.setVisible(Control::lblInstruct1, true);
    view_.setVisible(Control::lblInstruct2, true);
    view_.setVisible(Control::cbLearnAsBurst, true);
    view_.setEnabled(Control::cbLearnAsBurst, false);
    view_.setVisible(Control::lblLrnStatus, false);
    view_.setVisible(Control::lblLrnProgress, true);
    view_.setVisible(Control::lblCarrier, true);
    view_.setCaption(Control::lblCarrierFreq, QStringLiteral("---"));
    view_.setVisible(Control::lblCarrierFreq, true);
    // The boxes still hold the last report of an earlier learn; this one has none yet.
    clearMeters(view_.meter(Control::pbLearnProgress3), view_.meter(Control::pbSigQuality));
    view_.setVisible(Control::lblSigQuality, true);
    view_.setVisible(Control::pbSigQuality, true);
    view_.setVisible(Control::pbLearnProgress3, true);
    view_.setEnabled(Control::cbLearnIRCode, false);
    view_.setEnabled(Control::cbTransmitIRCode, false);
    view_.setEnabled(Control::mnuTransmit, false);
    view_.setEnabled(Control::mnuLearnIRLearnPronto, false);
}

void LearnController::beginLearn() {
    storeAbortWord(processState().hookAbort, 0);
    startLearn(-1);
}

void LearnController::endLearn() {
    ProcessState &state = processState();
    if (!state.inLearn) {
        return;
    }
    finishLearn(loadAbortWord(state.learnAbort) != kAbortStop);
}

void LearnController::finishLearn(bool takeCode) {
    ProcessState &state = processState();
    const bool ownLearn = state.learnMode >= 0;
    if (takeCode) {
        // The driver's text is ISO-8859-1 bytes; all 2049 are read, the first 0 ends it.
        const QString learned = trimAtNull(QString::fromLatin1(
            state.hookBuffer.data(), static_cast<qsizetype>(state.hookBuffer.size())));
        // A learn that ended without a code (failed, timed out, the other program gave up)
        // leaves an empty buffer: that is no code, and the user's code box stays as it was.
        if (!learned.isEmpty()) {
            state.curCode = learned;
            if (state.learnMode < 0) {
                state.learnMode = FMT_PRONTO;
            }
            state.curCodeFormat = state.learnMode;
            view_.setCodeText(state.curCode);
        }
    }
    view_.setVisible(Control::cbLearnCancel, false);
    view_.setVisible(Control::lblInstruct1, false);
    view_.setVisible(Control::lblInstruct2, false);
    view_.setVisible(Control::cbInjectIR, false);
    view_.setVisible(Control::cbLearnAsBurst, false);
    view_.setVisible(Control::lblLrnStatus, true);
    view_.setVisible(Control::lblLrnProgress, false);
    view_.setVisible(Control::lblCarrier, false);
    view_.setVisible(Control::lblCarrierFreq, false);
    view_.setVisible(Control::pbSigQuality, false);
    view_.setVisible(Control::pbLearnProgress3, false);
    view_.setVisible(Control::lblSigQuality, false);
    view_.setEnabled(Control::cbLearnIRCode, true);
    view_.setEnabled(Control::cbTransmitIRCode, true);
    view_.setEnabled(Control::mnuLrnInject, false);
    view_.setEnabled(Control::mnuLearnIRLearnPronto, true);
    view_.setEnabled(Control::mnuTransmit, true);
    state.inLearn = false;
    answered_ = 0;
    view_.validateCode();
    storeAbortWord(state.hookAbort, 0);
    // An own learn ends at the driver before hookDriver writes into hookBuffer. Both calls
    // are made whatever the first does; its error is raised afterwards.
    std::exception_ptr error;
    if (ownLearn) {
        try {
            unhookCall();
        } catch (const platform::RuntimeError &) {
            error = std::current_exception();
        }
    }
    try {
        hookDriver();
    } catch (const platform::RuntimeError &) {
        if (!error) {
            error = std::current_exception();
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

void LearnController::hookCall(const char *command, std::int32_t format, std::int32_t &abortWord) {
    ProcessState &state = processState();
    static_assert(sizeof(HOOK_COMMAND) == 10 && sizeof(UNHOOK_COMMAND) == 10,
                  "command words are 9 characters and a 0 byte");
    std::memcpy(state.hookBuffer.data(), command, 9);
    state.hookBuffer[9] = '\0';
    try {
        state.driver.learnIR(state.deviceHandle, format, state.hookBuffer.data(),
                             &device::learnCallback, nullptr, &abortWord, 0, -1, 0);
    } catch (...) {
        // A call that could not be made leaves no command word behind either.
        state.hookBuffer[0] = '\0';
        throw;
    }
    state.hookBuffer[0] = '\0';
}

void LearnController::unhookCall() {
    // Its command word travels in a buffer of its own: until this call has begun, the driver
    // may still write into hookBuffer (the hook an observed learn's code, a cancelled own
    // learn the burst it finished with).
    ProcessState &state = processState();
    char command[sizeof(UNHOOK_COMMAND)];
    std::memcpy(command, UNHOOK_COMMAND, sizeof command);
    state.driver.learnIR(state.deviceHandle, FMT_UNHOOK, command, &device::learnCallback, nullptr,
                         &state.learnAbort, 0, -1, 0);
}

void LearnController::hookDriver() {
    ProcessState &state = processState();
    if (state.deviceHandle == 0 || hookActive_) {
        return;
    }
    hookActive_ = true;  // whatever the call does
    hookCall(HOOK_COMMAND, FMT_PRONTO, state.hookAbort);
}

void LearnController::unhookDriver() {
    ProcessState &state = processState();
    if (state.deviceHandle == 0 || !hookActive_) {
        return;
    }
    hookActive_ = false;  // whatever the call does
    unhookCall();
    state.hookBuffer[0] = '\0';
}

void LearnController::onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam) {
    const device::ProgressReport report = device::unpackProgress(wParam);
    if (report.progress == kProgressEnd) {
        endLearn();
        return;
    }
    // During an observed learn only the driver's refusal of an answer puts the hook's word
    // back to 0; it then repeats its last report.
    ProcessState &state = processState();
    const bool refused = state.inLearn && state.learnMode < 0 && answered_ != 0 &&
                         loadAbortWord(state.hookAbort) == 0;
    if (refused) {
        answered_ = 0;
    }
    // The carrier travels in a 32-bit value; a wider lParam keeps its low 32 bits.
    const auto carrierHz = static_cast<std::int32_t>(static_cast<std::uint32_t>(lParam));
    drawLearnProgressMeter(view_.meter(Control::pbLearnProgress3), report.progress);
    drawSigQualityMeter(view_.meter(Control::pbSigQuality), report.sigQuality);
    view_.setCaption(Control::lblCarrierFreq, carrierText(carrierHz));
    view_.setEnabled(Control::cbLearnAsBurst, report.progress >= 2 && carrierHz > 0);
    if (refused) {
        view_.showError(kAnswerRefused);
    }
}

void LearnController::cbLearnCancel_Click() {
    ProcessState &state = processState();
    storeAbortWord(state.learnAbort, kAbortStop);
    // Cancel takes no code, whatever the driver has done with learnAbort since this store
    // (after an earlier Accept Burst it sets the word back to 0 when it took the burst).
    if (state.inLearn) {
        finishLearn(false);
    }
}

void LearnController::cbLearnAsBurst_Click() {
    ProcessState &state = processState();
    if (state.learnMode < 0) {
        storeAbortWord(state.hookAbort, kHookAcceptBurst);
        answered_ = kHookAcceptBurst;
    } else {
        storeAbortWord(state.learnAbort, kAbortStop);
    }
}

void LearnController::cbInjectIR_Click() {
    const QString text = view_.codeText();
    const QString refusal = injectRefusal(text);
    if (!refusal.isEmpty()) {
        view_.showError(refusal);
        return;
    }
    ProcessState &state = processState();
    const QByteArray bytes = text.toLatin1();
    std::memcpy(state.hookBuffer.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    state.hookBuffer[static_cast<std::size_t>(bytes.size())] = '\0';
    // Published only now: a driver that sees -2 finds the whole 0-ended text.
    storeAbortWord(state.hookAbort, kHookInject);
    answered_ = kHookInject;
}

void LearnController::mnuLrnInject_Click() {
    if (view_.isVisible(Control::cbInjectIR) && view_.isEnabled(Control::cbInjectIR)) {
        cbInjectIR_Click();
    }
}

}  // namespace vintrel::learn
