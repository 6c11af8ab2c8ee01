// SPDX-License-Identifier: MIT
// The loaded windows (processState().loadedForms): a window joins the list when it is
// created and leaves it when it is unloaded; when the last one leaves, the application's
// event loop ends. frmTX and frmLearn are created on first use and stay loaded until
// unloaded.
// Threads: the user-interface thread only.
#pragma once

class QWidget;

namespace vintrel::app {

class FrmTX;
class FrmLearn;

/// Adds form to the end of the loaded windows.
void registerForm(QWidget *form);
/// Unloads form: it leaves the list at once, is hidden and is deleted when control
/// returns to the event loop (so a window may unload itself from its own handler).
void unloadForm(QWidget *form);
/// Unloads the windows at positions n-1 down to 1 of the n loaded, newest first; the
/// first window (the main window) is not touched.
void unloadOtherForms();

/// The transmit window, created (hidden) on first use.
FrmTX *frmTX();
/// The second learn window, created (hidden) on first use.
FrmLearn *frmLearn();
/// The loaded instance, or nullptr when it is not loaded.
FrmTX *loadedFrmTX();
FrmLearn *loadedFrmLearn();

}  // namespace vintrel::app
