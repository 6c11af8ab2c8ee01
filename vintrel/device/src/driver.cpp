// SPDX-License-Identifier: MIT
#include "vintrel/device/driver.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vintrel/platform/last_error.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::device {

namespace {

// Runs fn with errno cleared and hands errno on as the last-error value.
template <typename Fn, typename... Args>
auto callKeepingErrno(Fn fn, Args... args) {
    errno = 0;
    const auto result = fn(args...);
    platform::setLastError(static_cast<std::uint32_t>(errno));
    return result;
}

}  // namespace

std::string Driver::libraryFromEnvironment() {
    const char *value = std::getenv("KRVXDRV_LIBRARY");
    if (value == nullptr || *value == '\0') {
        return kInstalledLibrary;
    }
    return value;
}

bool Driver::load(const std::string &file, std::string &reason) {
    if (file.empty()) {
        reason = "no file name given";
        return false;
    }
    if (file.size() > kMaxFileNameLength) {
        reason =
            "the file name is longer than " + std::to_string(kMaxFileNameLength) + " characters";
        return false;
    }
    dlerror();
    void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *message = dlerror();
        reason = message != nullptr ? message : "unknown loader error";
        return false;
    }
    library_ = library;
    file_ = file;
    entries_ = EntryPoints{};
    return true;
}

void *Driver::symbol(const char *name) {
    if (library_ == nullptr) {
        throw platform::RuntimeError(
            platform::kErrDllLoad, std::string("File not found: ") + kInstalledLibrary, "vintrel");
    }
    dlerror();
    void *address = dlsym(library_, name);
    if (address == nullptr) {
        throw platform::RuntimeError(
            platform::kErrDllEntryPoint,
            std::string("Can't find DLL entry point ") + name + " in " + file_, "vintrel");
    }
    return address;
}

template <typename Fn>
Fn Driver::entry(Fn &slot, const char *name) {
    if (slot == nullptr) {
        slot = reinterpret_cast<Fn>(symbol(name));
    }
    return slot;
}

std::int32_t Driver::getDrvInfo(std::uint32_t *info) {
    return callKeepingErrno(entry(entries_.getDrvInfo, "KRVXGetDrvInfo"), info);
}

std::int32_t Driver::getDrvVersion(std::uint32_t *version) {
    return callKeepingErrno(entry(entries_.getDrvVersion, "KRVXGetDrvVersion"), version);
}

std::int32_t Driver::open() {
    return callKeepingErrno(entry(entries_.open, "KRVXOpen"));
}

std::int32_t Driver::close(std::int32_t handle) {
    return callKeepingErrno(entry(entries_.close, "KRVXClose"), handle);
}

std::int32_t Driver::getKRVXInfo(std::int32_t handle, DeviceInfo *info) {
    return callKeepingErrno(entry(entries_.getKRVXInfo, "KRVXGetKRVXInfo"), handle, info);
}

std::int32_t Driver::transmitIR(std::int32_t handle, const char *code, std::int32_t format,
                                std::int32_t repeatCount, std::int32_t inactivityWaitTime,
                                void *completionEvent, void *reserved0, void *reserved1) {
    return callKeepingErrno(entry(entries_.transmitIR, "KRVXTransmitIR"), handle, code, format,
                            repeatCount, inactivityWaitTime, completionEvent, reserved0, reserved1);
}

std::int32_t Driver::learnIR(std::int32_t handle, std::int32_t format, char *buffer,
                             KRVXLearnCallback callback, void *userData, std::int32_t *abortWord,
                             std::int32_t param1, std::int32_t reserved0, std::int32_t reserved1) {
    return callKeepingErrno(entry(entries_.learnIR, "KRVXLearnIR"), handle, format, buffer,
                            callback, userData, abortWord, param1, reserved0, reserved1);
}

std::int32_t Driver::setReceiveCallback(std::int32_t handle, KRVXReceiveCallback callback,
                                        void *userData) {
    return callKeepingErrno(entry(entries_.setReceiveCallback, "KRVXSetReceiveCallback"), handle,
                            callback, userData);
}

std::int32_t Driver::setReceiveFrameCallback(std::int32_t handle,
                                             KRVXReceiveFrameCallback callback, void *userData) {
    void *address = library_ != nullptr ? dlsym(library_, "KRVXSetReceiveFrameCallback") : nullptr;
    if (address == nullptr) {
        errno = ERR_NOT_SUPPORTED;
        return 0;
    }
    return callKeepingErrno(reinterpret_cast<decltype(&KRVXSetReceiveFrameCallback)>(address),
                            handle, callback, userData);
}

std::int32_t Driver::convertProntoCode(const char *code, char *out, std::int32_t *outValue,
                                       std::int32_t reserved0, std::int32_t reserved1) {
    return callKeepingErrno(entry(entries_.convertProntoCode, "KRVXConvertProntoCode"), code, out,
                            outValue, reserved0, reserved1);
}

std::string Driver::errorText(std::int32_t code) {
    const char *text = entry(entries_.errorText, "KRVXErrorText")(code);
    std::string checked;
    for (const char *c = text; c != nullptr && *c != '\0' && checked.size() < kMaxErrorTextLength;
         ++c) {
        checked.push_back(*c >= ' ' && *c <= '~' ? *c : '?');
    }
    return checked;
}

}  // namespace vintrel::device
