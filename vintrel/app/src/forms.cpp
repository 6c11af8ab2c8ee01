// SPDX-License-Identifier: MIT
#include "forms.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include <algorithm>

#include "frm_learn.h"
#include "frm_tx.h"
#include "vintrel/device/process_state.h"

namespace vintrel::app {

namespace {

void forget(QObject *form) {
    auto &forms = processState().loadedForms;
    const auto it = std::find(forms.begin(), forms.end(), form);
    if (it == forms.end()) {
        return;
    }
    forms.erase(it);
    // No window left: the process ends. Only a running loop is told: an exit() with none
    // running would make every later event loop (a message box's) return at once.
    if (forms.empty() && QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(0);
    }
}

template <typename Form>
Form *findLoaded() {
    for (QWidget *form : processState().loadedForms) {
        if (auto *found = qobject_cast<Form *>(form)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

void registerForm(QWidget *form) {
    processState().loadedForms.push_back(form);
    QObject::connect(form, &QObject::destroyed, [form] { forget(form); });
}

void unloadForm(QWidget *form) {
    if (form == nullptr) {
        return;
    }
    form->hide();
    form->deleteLater();
    forget(form);
}

void unloadOtherForms() {
    auto &forms = processState().loadedForms;
    for (std::size_t position = forms.size(); position-- > 1;) {
        if (position < forms.size()) {  // an unload may have taken others with it
            unloadForm(forms[position]);
        }
    }
}

FrmTX *loadedFrmTX() {
    return findLoaded<FrmTX>();
}
FrmLearn *loadedFrmLearn() {
    return findLoaded<FrmLearn>();
}

FrmTX *frmTX() {
    if (FrmTX *form = loadedFrmTX()) {
        return form;
    }
    return new FrmTX;  // registers itself
}

FrmLearn *frmLearn() {
    if (FrmLearn *form = loadedFrmLearn()) {
        return form;
    }
    MainForm *owner = processState().mainForm;
    return new FrmLearn(owner != nullptr ? owner->widget() : nullptr);
}

}  // namespace vintrel::app
