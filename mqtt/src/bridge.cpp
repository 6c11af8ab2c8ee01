// SPDX-License-Identifier: MIT
#include "bridge.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "../../tools/krvx/code_file.h"
#include "../../tools/krvx/code_forms.h"
#include "json.h"
#include "krvx_version.h"

namespace krvx::mqtt {

namespace {

constexpr auto kDeviceCheck = std::chrono::seconds(2);
constexpr auto kMaxDeviceBackoff = std::chrono::seconds(10);
constexpr auto kCodesCheck = std::chrono::seconds(2);

void log(const std::string &line) {
    std::fprintf(stderr, "krvx-mqtt: %s\n", line.c_str());
}

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string error_text(int32_t code) {
    return fmt::format("{} (0x{:08X})", KRVXErrorText(code), code);
}

/// The save of a learn as krvx learn --save takes it: the file in the code folder.
cli::SaveOptions save_options(const std::string &dir, const KeyRef &ref) {
    return {dir + "/" + ref.file, ref.remote, ref.key};
}

/// A message about a file of the code folder, naming it as the command did rather than by
/// its place on this machine.
std::string as_named(std::string text, const std::string &dir, const KeyRef &ref) {
    const std::string path = dir + "/" + ref.file;
    for (std::size_t at; (at = text.find(path)) != std::string::npos;)
        text.replace(at, path.size(), ref.file);
    return text;
}

}  // namespace

Bridge::Bridge(Options options)
    : options_(std::move(options)),
      topics_(options_.prefix, options_.node, options_.ha_prefix),
      broker_(options_, topics_.status(),
              Broker::Events{
                  .connected = [this] { post(BrokerUp{}); },
                  .disconnected = [this](std::string why) { post(BrokerDown{std::move(why)}); },
                  .message =
                      [this](std::string topic, std::string payload) {
                          post(Incoming{std::move(topic), std::move(payload)});
                      }}),
      outbox_(options_.queue),
      rate_(options_.rate_per_s, options_.rate_burst),
      learn_buffer_(std::make_unique<std::array<char, KRVX_LEARN_BUFFER_SIZE>>()) {}

Bridge::~Bridge() {
    broker_.stop();
    if (handle_ > 0)
        KRVXClose(handle_);
}

void Bridge::post(Event e) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    wake_.notify_one();
}

void Bridge::stop() {
    post(Stop{});
}

int Bridge::run() {
    keep_codes();  // before the broker: its retained buttons are compared with these keys
    std::string why;
    if (!broker_.start(why)) {
        log(why);
        return 1;
    }
    log(fmt::format("node {}: broker {}:{}{}, topics under {}/{}/", options_.node,
                    options_.broker.host, options_.broker.port, options_.broker.tls ? " (TLS)" : "",
                    options_.prefix, options_.node));
    while (running_) {
        keep_device();
        keep_codes();
        const auto deadline = std::min(handle_ > 0 ? next_device_check_ : next_device_try_,
                                       std::chrono::steady_clock::now() + kDeviceCheck);
        std::deque<Event> batch;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, deadline, [this] { return !events_.empty(); });
            batch.swap(events_);
        }
        for (auto &e : batch)
            std::visit([this](auto &&ev) { handle(std::move(ev)); }, std::move(e));
    }
    if (learning_)
        std::atomic_ref<int32_t>(learn_abort_).store(-1, std::memory_order_release);
    broker_.stop();
    if (handle_ > 0)
        KRVXClose(handle_);
    handle_ = -1;
    log("stopped");
    return 0;
}

// ---- krvxd ---------------------------------------------------------------------------

void Bridge::keep_device() {
    const auto now = std::chrono::steady_clock::now();
    if (handle_ > 0) {
        if (now < next_device_check_)
            return;
        next_device_check_ = now + kDeviceCheck;
        DeviceInfo info{};
        if (!KRVXGetKRVXInfo(handle_, &info))
            device_lost(error_text(errno));
        return;
    }
    if (now < next_device_try_)
        return;
    const int32_t h = KRVXOpen();
    if (h < 0) {
        const std::string why = error_text(errno);
        if (why != device_why_)
            log("krvxd: " + why);
        device_why_ = why;
        next_device_try_ = now + device_backoff_;
        device_backoff_ =
            std::min(device_backoff_ * 2, std::chrono::milliseconds(kMaxDeviceBackoff));
        return;
    }
    DeviceInfo info{};
    if (!KRVXGetKRVXInfo(h, &info) || !KRVXSetReceiveCallback(h, on_received, this) ||
        !KRVXSetReceiveFrameCallback(h, on_frame, this)) {
        device_why_ = error_text(errno);
        KRVXClose(h);
        next_device_try_ = now + device_backoff_;
        return;
    }
    handle_ = h;
    device_backoff_ = std::chrono::milliseconds(500);
    next_device_check_ = now + kDeviceCheck;
    log("krvxd: device open");
    if (broker_up_)
        broker_.publish(topics_.device(), device_json(info), true);
}

void Bridge::device_lost(const std::string &why) {
    log("krvxd: lost: " + why);
    KRVXClose(handle_);
    handle_ = -1;
    device_why_ = why;
    next_device_try_ = std::chrono::steady_clock::now();
    if (broker_up_)
        broker_.publish(topics_.device(), device_away_json(why), true);
}

void Bridge::on_received(const char *code, void *self) {
    if (static_cast<Bridge *>(self)->frame_posted_.exchange(false))
        return;  // published with its frame
    Received r;
    r.fingerprint.assign(code, strnlen(code, KRVX_RECEIVE_CODE_LENGTH));
    r.time = std::chrono::system_clock::now();
    static_cast<Bridge *>(self)->post(std::move(r));
}

void Bridge::on_frame(const KRVXReceivedFrame *frame, void *self) {
    const auto text = [](const char *t, size_t bound) {
        return t ? std::string(t, strnlen(t, bound)) : std::string();
    };
    Received r;
    r.fingerprint = text(frame->code, KRVX_RECEIVE_CODE_LENGTH);
    r.has_frame = true;
    r.protocol = text(frame->protocol, 64);
    r.params = text(frame->params, 256);
    r.kernel_protocol = text(frame->kernelProtocol, 64);
    r.kernel_scancode = frame->kernelScancode;
    r.carrier_hz = frame->carrierHz;
    if (frame->durationsUs)
        r.durations_us.assign(frame->durationsUs,
                              frame->durationsUs + std::min<uint32_t>(frame->durationCount, 512));
    r.time = std::chrono::system_clock::now();
    auto *bridge = static_cast<Bridge *>(self);
    bridge->frame_posted_.store(true);
    bridge->post(std::move(r));
}

void Bridge::on_learn(int32_t progress, int32_t quality, int32_t carrier_hz, void *self) {
    static_cast<Bridge *>(self)->post(LearnReport{progress, quality, carrier_hz});
}

// ---- code files ----------------------------------------------------------------------

void Bridge::keep_codes() {
    const auto now = std::chrono::steady_clock::now();
    if (options_.codes_dir.empty() || now < next_codes_check_)
        return;
    next_codes_check_ = now + kCodesCheck;
    std::string signature = codes_signature(options_.codes_dir);
    if (signature == codes_signature_)
        return;
    codes_signature_ = std::move(signature);
    const CodesScan scan = scan_codes(options_.codes_dir);
    for (const std::string &problem : scan.problems)
        log("codes: " + problem);
    std::map<std::string, KeyRef> keys;
    for (const KeyRef &k : scan.keys)
        keys.emplace(button_object_id(k), k);
    if (broker_up_ && options_.ha_discovery) {
        for (const auto &[id, ref] : keys_)
            if (!keys.contains(id))  // the key left the folder: its button goes
                broker_.publish(topics_.ha_config("button", id), "", true);
    }
    const bool changed = keys != keys_;
    keys_ = std::move(keys);
    if (changed) {
        log(fmt::format("codes: {} keys in {}", keys_.size(), options_.codes_dir));
        publish_key_buttons();
    }
}

void Bridge::publish_key_buttons() {
    if (!broker_up_ || !options_.ha_discovery)
        return;
    for (const auto &[id, ref] : keys_)
        broker_.publish(topics_.ha_config("button", id),
                        ha_key_button_config(topics_, KRVX_VERSION, ref), true);
}

// ---- broker --------------------------------------------------------------------------

void Bridge::publish_state() {
    broker_.publish(topics_.status(), "online", true);
    if (handle_ > 0) {
        DeviceInfo info{};
        if (KRVXGetKRVXInfo(handle_, &info))
            broker_.publish(topics_.device(), device_json(info), true);
    } else {
        broker_.publish(topics_.device(), device_away_json(device_why_), true);
    }
    if (options_.ha_discovery) {
        broker_.publish(topics_.ha_config("event", "received"),
                        ha_event_config(topics_, KRVX_VERSION), true);
        broker_.publish(topics_.ha_config("text", "send"), ha_text_config(topics_, KRVX_VERSION),
                        true);
        broker_.publish(topics_.ha_config("button", "learn"),
                        ha_learn_button_config(topics_, KRVX_VERSION), true);
        publish_key_buttons();
    }
}

void Bridge::handle(BrokerUp) {
    broker_up_ = true;
    broker_why_.clear();
    log("broker: connected");
    broker_.subscribe(topics_.send());
    broker_.subscribe(topics_.learn());
    // Buttons of keys that left the folder while the bridge was not running come back
    // retained: they are removed as they arrive.
    if (options_.ha_discovery)
        broker_.subscribe(topics_.ha_config("button", "+"));
    publish_state();
    flush_outbox();
}

void Bridge::handle(BrokerDown e) {
    // Each reason once while it lasts: a refused login retries every 30 s at most.
    if (broker_up_ || e.why != broker_why_)
        log("broker: " + e.why + "; retrying");
    broker_why_ = std::move(e.why);
    broker_up_ = false;
}

void Bridge::publish_event(const std::string &topic, std::string payload) {
    if (broker_up_ && outbox_.empty() && broker_.publish(topic, payload, false) > 0)
        return;
    outbox_.push({topic, std::move(payload)});
    if (const uint64_t dropped = outbox_.take_dropped(); dropped > 0) {
        if (dropped_unreported_ == 0)
            log(fmt::format("broker away: outbox full ({} messages), dropping the oldest",
                            options_.queue));
        dropped_unreported_ += dropped;
    }
}

void Bridge::flush_outbox() {
    while (broker_up_ && !outbox_.empty()) {
        const Message &m = outbox_.front();
        // The first message after a gap says how many before it were dropped.
        const std::string payload =
            dropped_unreported_ > 0 ? with_dropped(m.payload, dropped_unreported_) : m.payload;
        if (broker_.publish(m.topic, payload, false) < 0)
            return;
        if (dropped_unreported_ > 0)
            log(fmt::format("broker back: {} messages had been dropped", dropped_unreported_));
        dropped_unreported_ = 0;
        outbox_.pop();
    }
}

void Bridge::handle(Incoming e) {
    if (options_.verbose)
        log(fmt::format("command on {} ({} bytes)", e.topic, e.payload.size()));
    if (e.topic == topics_.send()) {
        send(e.payload);
    } else if (e.topic == topics_.learn()) {
        learn(e.payload);
    } else if (!e.payload.empty()) {  // a button config, ours or left over
        const std::string prefix = topics_.ha_config("button", "");
        const std::string id = e.topic.substr(
            std::min(e.topic.size(), prefix.size() - std::string_view("/config").size()));
        const std::string object = id.substr(0, id.find('/'));
        if (object.starts_with("key_") && !keys_.contains(object))
            broker_.publish(e.topic, "", true);
    }
}

void Bridge::handle(Received r) {
    publish_event(topics_.received(), received_json(r));
}

// ---- commands ------------------------------------------------------------------------

std::string Bridge::admit() {
    if (!rate_.take(seconds_now()))
        return fmt::format("too many commands: at most {} a second", options_.rate_per_s);
    if (handle_ <= 0)
        return "krvxd is not reachable: " + device_why_;
    return {};
}

void Bridge::send(const std::string &payload) {
    SendCommand c = parse_send(payload);
    if (c.ok() && c.wire.empty()) {  // a key of a code file
        const KeyCode k = key_code(options_.codes_dir, {c.file, c.remote, c.key});
        c.error = k.error;
        c.code = k.pronto;
        if (c.ok())
            check_code(c);
    }
    std::string why = c.ok() ? admit() : c.error;
    if (!why.empty()) {
        publish_event(topics_.send_result(), refusal_json(c.id, why));
        return;
    }
    if (!KRVXTransmitIR(handle_, c.wire.c_str(), FMT_PRONTO, c.repeat, 0, nullptr, nullptr,
                        nullptr)) {
        const int32_t e = errno;
        publish_event(topics_.send_result(), refusal_json(c.id, "not sent: " + error_text(e)));
        if (e == ERR_COMM_FAILED)
            device_lost(error_text(e));
        return;
    }
    publish_event(topics_.send_result(), JsonWriter()
                                             .raw("id", c.id)
                                             .boolean("ok", true)
                                             .text("code", c.code)
                                             .number("repeat", c.repeat)
                                             .str());
}

void Bridge::learn(const std::string &payload) {
    const LearnCommand c = parse_learn(payload);
    std::string why = c.error;
    if (why.empty() && c.save && options_.codes_dir.empty())
        why = "not saved: no code folder (the bridge runs without --codes)";
    if (why.empty())
        why = admit();
    if (why.empty() && learning_)
        why = "a learn is already running on this node";
    const KeyRef save{c.file, c.remote, c.key};
    if (why.empty() && c.save)  // refused now rather than after the press
        if (std::string no = cli::save_refusal(save_options(options_.codes_dir, save)); !no.empty())
            why = "not saved: " + as_named(no, options_.codes_dir, save);
    if (!why.empty()) {
        publish_event(topics_.learn_result(), refusal_json(c.id, why));
        return;
    }
    learn_buffer_->fill(0);
    std::atomic_ref<int32_t>(learn_abort_).store(0, std::memory_order_release);
    if (!KRVXLearnIR(handle_, FMT_PRONTO, learn_buffer_->data(), on_learn, this, &learn_abort_, 0,
                     0, 0) ||
        errno != ERROR_IO_PENDING) {
        publish_event(topics_.learn_result(),
                      refusal_json(c.id, "not learning: " + error_text(errno)));
        return;
    }
    learning_ = true;
    learn_id_ = c.id;
    learn_save_ = c.save ? std::optional(save) : std::nullopt;
}

void Bridge::handle(LearnReport e) {
    if (!learning_)
        return;
    if (e.progress >= 0 && e.progress <= 100) {
        publish_event(topics_.learn_progress(), JsonWriter()
                                                    .raw("id", learn_id_)
                                                    .number("progress", e.progress)
                                                    .number("quality", e.quality)
                                                    .number("carrier_hz", e.carrier_hz)
                                                    .str());
        return;
    }
    learning_ = false;
    if (e.progress != LEARN_PROGRESS_DONE) {
        learn_save_.reset();
        publish_event(
            topics_.learn_result(),
            refusal_json(learn_id_, std::string("nothing learned: ") + KRVXErrorText(e.progress)));
        return;
    }
    const std::string code(learn_buffer_->data(),
                           strnlen(learn_buffer_->data(), learn_buffer_->size()));
    JsonWriter result;
    result.raw("id", learn_id_);
    if (learn_save_) {
        const cli::SaveOptions o = save_options(options_.codes_dir, *learn_save_);
        if (std::string failed = cli::save_learned(o, code); !failed.empty()) {
            // The code is not lost: it comes with the reason.
            result.boolean("ok", false)
                .text("error",
                      "learned, not saved: " + as_named(failed, options_.codes_dir, *learn_save_));
        } else {
            result.boolean("ok", true)
                .raw("saved", JsonWriter()
                                  .text("file", learn_save_->file)
                                  .text("remote", cli::save_remote(o))
                                  .text("key", learn_save_->key)
                                  .str());
            log(fmt::format("learn: {} saved in {}", learn_save_->key, learn_save_->file));
            next_codes_check_ = {};  // its button now, not at the next look at the folder
            keep_codes();
        }
        learn_save_.reset();
    } else {
        result.boolean("ok", true);
    }
    publish_event(topics_.learn_result(),
                  result.text("code", code)
                      .number("quality", e.quality)
                      .number("carrier_hz", e.carrier_hz)
                      .raw("decode", cli::decodes_json(cli::shown_decodes(code)))
                      .str());
}

void Bridge::handle(Stop) {
    running_ = false;
}

}  // namespace krvx::mqtt
