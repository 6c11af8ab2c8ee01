// SPDX-License-Identifier: MIT
// The learn controller of the main window: the own learn (a learn vintrel asks the driver
// for), the observed learn (another application's learn that the driver hook reports), the
// driver hook itself, the injection of the code box text into an observed learn, and the
// handling of learn progress reports. It works on the window through a LearnView and on
// the driver and the shared buffer and abort words through processState().
//
// Own learn: startLearn(16) removes the hook and starts an asynchronous driver learn into
// hookBuffer; the end report (progress 255) leads to endLearn(), which takes the buffer's
// text unless learnAbort is -1; Cancel ends it without a code. Either way the learn is
// ended at the driver (the unhook call) and the hook registered again. A learn call that
// cannot start (the device is busy or gone, or a run-time error) leaves the window idle
// and hooked. Observed learn: beginLearn() (another application began) shows the same
// controls; the user may inject (hookAbort -2) or accept the burst (hookAbort -1); an
// answer the driver refuses is said in a box and may be given again; the end report leads
// to endLearn(). A learn that ends without a code never empties the code box.
//
// Threads: every function runs on the user-interface thread; driver events arrive as
// posted messages. The driver reads hookBuffer and the abort words on its own threads:
// they are written before the abort word that publishes them, with release stores.
// hookBuffer is written only while no driver call may write into it: the command word of
// the hook call after the own learn has been ended at the driver, the unhook call's
// command word never (it has a buffer of its own).
#pragma once

#include <krvxdrv.h>

#include <QString>

#include <cstdint>

#include "vintrel/learn/learn_view.h"

namespace vintrel::learn {

/// The text before the first NUL character, or all of it when there is none.
QString trimAtNull(const QString &text);

/// Longest code that fits hookBuffer with its 0 byte.
inline constexpr int kMaxInjectLength = 2048;

class LearnController {
  public:
    /// view must outlive the controller. The hook starts unregistered.
    explicit LearnController(LearnView &view) : view_(view) {}
    LearnController(const LearnController &) = delete;
    LearnController &operator=(const LearnController &) = delete;

    /// Own learn for format >= 0 (16), observed learn for a negative format (-1). Does
    /// nothing without a device.
    void startLearn(std::int32_t format);
    /// Another application began a learn: hookAbort 0, then startLearn(-1).
    void beginLearn();
    /// The end of a learn was reported (or File > Exit): leaves any learn, taking the code
    /// unless learnAbort is -1; does nothing outside one.
    void endLearn();

    /// Registers the driver hook unless there is no device or it is registered already.
    void hookDriver();
    /// Removes the driver hook unless there is no device or it is not registered.
    void unhookDriver();
    bool hookActive() const noexcept { return hookActive_; }

    /// A WM_LEARNPROGRESS report: the end marker ends the learn, anything else redraws
    /// the meters, the carrier caption and Accept Burst's availability.
    void onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam);

    // Event handlers of the main window.
    void cbLearnIRCode_Click() { startLearn(FMT_PRONTO); }
    void mnuLearnIRLearnPronto_Click() { startLearn(FMT_PRONTO); }
    void cbLearnCancel_Click();
    void cbLearnAsBurst_Click();
    /// Copies the code box text, 0-ended, into hookBuffer, then sets hookAbort to -2. A
    /// text longer than kMaxInjectLength or with a character outside ISO-8859-1 is
    /// refused with an error box and hookAbort is left alone.
    void cbInjectIR_Click();
    /// The same as cbInjectIR_Click while that button is visible and enabled; else nothing.
    void mnuLrnInject_Click();

  private:
    /// Leaves the learn on show: the code if takeCode and the buffer holds one, the idle
    /// controls, then the driver calls that end an own learn and register the hook.
    void finishLearn(bool takeCode);
    void hookCall(const char *command, std::int32_t format, std::int32_t &abortWord);
    /// The unhook call: removes the hook and ends the own learn at the driver.
    void unhookCall();

    LearnView &view_;
    bool hookActive_ = false;
    /// The answer stored into hookAbort during the observed learn on show, 0 for none.
    std::int32_t answered_ = 0;
};

}  // namespace vintrel::learn
