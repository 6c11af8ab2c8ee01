// SPDX-License-Identifier: MIT
#include "code_meaning.h"

#include <memory>
#include <string>

#include "ir/pronto.h"
#include "ir/protocols.h"
#include "vintrel/device/process_state.h"

namespace vintrel::app {

namespace {

const QString kUnknown = QStringLiteral("Unknown protocol");

}  // namespace

void receiveFrameCallback(const KRVXReceivedFrame *frame, void * /*userData*/) noexcept {
    if (frame == nullptr || frame->code == nullptr || frame->protocol == nullptr ||
        frame->params == nullptr || frame->kernelProtocol == nullptr) {
        return;
    }
    try {
        auto text = std::make_shared<ReceivedFrameText>();
        text->code = QString::fromLatin1(frame->code);
        QString decode = QString::fromLatin1(frame->protocol);
        if (!decode.isEmpty() && frame->params[0] != '\0') {
            decode += QLatin1Char(' ') + QString::fromLatin1(frame->params);
        }
        if (!decode.isEmpty() && frame->kernelProtocol[0] != '\0') {
            decode += QStringLiteral("  (%1 0x%2)")
                          .arg(QString::fromLatin1(frame->kernelProtocol))
                          .arg(frame->kernelScancode, 4, 16, QLatin1Char('0'));
        }
        text->decode = decode;
        processState().lastFrame.store(std::move(text));
    } catch (...) {  // out of memory: the tooltip stays as it was
    }
}

QString codeMeaning(const QString &prontoText) {
    const ir::ParseResult parsed = ir::parse_pronto(prontoText.toStdString());
    if (!parsed.ok()) {
        return {};
    }
    const std::string line = ir::protocols::describe(ir::protocols::decode(parsed.signal));
    return line.empty() ? kUnknown : QString::fromStdString(line);
}

QString receivedMeaning(const QString &code) {
    const std::shared_ptr<const ReceivedFrameText> frame = processState().lastFrame.load();
    if (!frame || frame->code != code) {
        return {};
    }
    return frame->decode.isEmpty() ? kUnknown : frame->decode;
}

}  // namespace vintrel::app
