// SPDX-License-Identifier: MIT
// The driver library, loaded at run time. vintrel never links libkrvxdrv: it opens the
// library with dlopen (KRVXDRV_LIBRARY names another file) and looks each entry point up
// the first time it is called. A missing entry point is a run-time error of that call
// (platform::RuntimeError 453), raised again on every call, which the caller handles like
// any other error. Right after each call the thread's errno becomes the last-error value
// (platform::lastError()); errno is cleared before the call, so a library that does not
// set it leaves 0.
//
// The library stays loaded until the process ends: its threads may still be running
// callbacks when this object goes away.
//
// Threads: load() and the calls on the user-interface thread. The driver's own rules
// (krvxdrv.h) say which functions may run concurrently; vintrel calls them from one thread.
#pragma once

#include <krvxdrv.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vintrel::device {

class Driver {
  public:
    static constexpr const char *kInstalledLibrary = "libkrvxdrv.so.1";
    static constexpr std::size_t kMaxFileNameLength = 4096;

    /// KRVXDRV_LIBRARY when it is set and not empty, else the installed library.
    static std::string libraryFromEnvironment();

    Driver() = default;
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    /// Opens the library. On failure returns false and sets reason to the loader's
    /// message; any earlier library stays in use. A later load() replaces the library
    /// the calls go to and forgets the entry points looked up so far.
    bool load(const std::string &file, std::string &reason);
    bool loaded() const noexcept { return library_ != nullptr; }
    const std::string &file() const noexcept { return file_; }

    // The library's functions, same arguments and results as in krvxdrv.h.
    std::int32_t getDrvInfo(std::uint32_t *info);
    std::int32_t getDrvVersion(std::uint32_t *version);
    std::int32_t open();
    std::int32_t close(std::int32_t handle);
    std::int32_t getKRVXInfo(std::int32_t handle, DeviceInfo *info);
    std::int32_t transmitIR(std::int32_t handle, const char *code, std::int32_t format,
                            std::int32_t repeatCount, std::int32_t inactivityWaitTime,
                            void *completionEvent, void *reserved0, void *reserved1);
    std::int32_t learnIR(std::int32_t handle, std::int32_t format, char *buffer,
                         KRVXLearnCallback callback, void *userData, std::int32_t *abortWord,
                         std::int32_t param1, std::int32_t reserved0, std::int32_t reserved1);
    std::int32_t setReceiveCallback(std::int32_t handle, KRVXReceiveCallback callback,
                                    void *userData);
    std::int32_t convertProntoCode(const char *code, char *out, std::int32_t *outValue,
                                   std::int32_t reserved0, std::int32_t reserved1);
    /// KRVXSetReceiveFrameCallback, this library's extension. A library without it (the
    /// maker's) is no error: the call returns 0 with errno ERR_NOT_SUPPORTED.
    std::int32_t setReceiveFrameCallback(std::int32_t handle, KRVXReceiveFrameCallback callback,
                                         void *userData);
    /// KRVXErrorText, this library's extension: its short text for a last-error value, at
    /// most kMaxErrorTextLength characters, anything but printable ASCII as '?'.
    std::string errorText(std::int32_t code);

    static constexpr std::size_t kMaxErrorTextLength = 200;

  private:
    void *symbol(const char *name);
    template <typename Fn>
    Fn entry(Fn &slot, const char *name);

    void *library_ = nullptr;
    std::string file_;
    struct EntryPoints {
        decltype(&KRVXGetDrvInfo) getDrvInfo = nullptr;
        decltype(&KRVXGetDrvVersion) getDrvVersion = nullptr;
        decltype(&KRVXOpen) open = nullptr;
        decltype(&KRVXClose) close = nullptr;
        decltype(&KRVXGetKRVXInfo) getKRVXInfo = nullptr;
        decltype(&KRVXTransmitIR) transmitIR = nullptr;
        decltype(&KRVXLearnIR) learnIR = nullptr;
        decltype(&KRVXSetReceiveCallback) setReceiveCallback = nullptr;
        decltype(&KRVXConvertProntoCode) convertProntoCode = nullptr;
        decltype(&KRVXErrorText) errorText = nullptr;
    } entries_;
};

}  // namespace vintrel::device
