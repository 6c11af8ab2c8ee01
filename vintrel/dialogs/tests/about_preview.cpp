// SPDX-License-Identifier: MIT
// Shows the About dialog on its own until the process is ended, for a look at it.
#include "frm_about.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    auto *dialog = new vintrel::dialogs::frmAbout(nullptr);
    dialog->show();
    return QApplication::exec();
}
