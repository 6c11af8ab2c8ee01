// SPDX-License-Identifier: MIT
// Constants and record layouts of the kernel's IR device interface (/dev/lircN), taken from
// <linux/lirc.h> and pinned by static assertions so that a different header cannot change
// them silently.
#pragma once

#include <linux/lirc.h>

#include <cstddef>
#include <cstdint>

// Older headers lack the overflow sample type (added in 2022); its value is fixed by the ABI.
#ifndef LIRC_MODE2_OVERFLOW
#define LIRC_MODE2_OVERFLOW 0x04000000
#endif

namespace krvxd::lirc {

// ioctl requests; every one passes a pointer to a u32.
inline constexpr unsigned long kGetFeatures = LIRC_GET_FEATURES;
inline constexpr unsigned long kGetSendMode = LIRC_GET_SEND_MODE;
inline constexpr unsigned long kGetRecMode = LIRC_GET_REC_MODE;
inline constexpr unsigned long kGetRecResolution = LIRC_GET_REC_RESOLUTION;
inline constexpr unsigned long kGetMinTimeout = LIRC_GET_MIN_TIMEOUT;
inline constexpr unsigned long kGetMaxTimeout = LIRC_GET_MAX_TIMEOUT;
inline constexpr unsigned long kGetRecTimeout = LIRC_GET_REC_TIMEOUT;
inline constexpr unsigned long kSetSendMode = LIRC_SET_SEND_MODE;
inline constexpr unsigned long kSetRecMode = LIRC_SET_REC_MODE;
inline constexpr unsigned long kSetSendCarrier = LIRC_SET_SEND_CARRIER;
inline constexpr unsigned long kSetSendDutyCycle = LIRC_SET_SEND_DUTY_CYCLE;
inline constexpr unsigned long kSetTransmitterMask = LIRC_SET_TRANSMITTER_MASK;
inline constexpr unsigned long kSetRecTimeout = LIRC_SET_REC_TIMEOUT;
inline constexpr unsigned long kSetMeasureCarrierMode = LIRC_SET_MEASURE_CARRIER_MODE;
inline constexpr unsigned long kSetWidebandReceiver = LIRC_SET_WIDEBAND_RECEIVER;

static_assert(kGetFeatures == 0x80046900UL && kGetRecMode == 0x80046902UL);
static_assert(kGetRecResolution == 0x80046907UL && kGetMinTimeout == 0x80046908UL);
static_assert(kGetMaxTimeout == 0x80046909UL && kGetRecTimeout == 0x80046924UL);
static_assert(kSetSendMode == 0x40046911UL && kSetRecMode == 0x40046912UL);
static_assert(kSetSendCarrier == 0x40046913UL && kSetSendDutyCycle == 0x40046915UL);
static_assert(kSetTransmitterMask == 0x40046917UL && kSetRecTimeout == 0x40046918UL);
static_assert(kSetMeasureCarrierMode == 0x4004691DUL && kSetWidebandReceiver == 0x40046923UL);

// Send and receive modes.
inline constexpr uint32_t kModePulse = LIRC_MODE_PULSE;
inline constexpr uint32_t kModeMode2 = LIRC_MODE_MODE2;
inline constexpr uint32_t kModeScancode = LIRC_MODE_SCANCODE;
static_assert(kModePulse == 0x2 && kModeMode2 == 0x4 && kModeScancode == 0x8);

// Feature bits of GET_FEATURES.
inline constexpr uint32_t kCanSendPulse = LIRC_CAN_SEND_PULSE;
inline constexpr uint32_t kCanSetSendCarrier = LIRC_CAN_SET_SEND_CARRIER;
inline constexpr uint32_t kCanSetSendDutyCycle = LIRC_CAN_SET_SEND_DUTY_CYCLE;
inline constexpr uint32_t kCanSetTransmitterMask = LIRC_CAN_SET_TRANSMITTER_MASK;
inline constexpr uint32_t kCanRecMode2 = LIRC_CAN_REC_MODE2;
inline constexpr uint32_t kCanRecScancode = LIRC_CAN_REC_SCANCODE;
inline constexpr uint32_t kCanSetRecCarrier = LIRC_CAN_SET_REC_CARRIER;
inline constexpr uint32_t kCanMeasureCarrier = LIRC_CAN_MEASURE_CARRIER;
inline constexpr uint32_t kCanUseWidebandReceiver = LIRC_CAN_USE_WIDEBAND_RECEIVER;
inline constexpr uint32_t kCanSetRecTimeout = LIRC_CAN_SET_REC_TIMEOUT;
inline constexpr uint32_t kCanGetRecResolution = LIRC_CAN_GET_REC_RESOLUTION;
inline constexpr uint32_t kCanSetRecCarrierRange = LIRC_CAN_SET_REC_CARRIER_RANGE;
static_assert(kCanSendPulse == 0x2 && kCanSetSendCarrier == 0x100);
static_assert(kCanSetSendDutyCycle == 0x200 && kCanSetTransmitterMask == 0x400);
static_assert(kCanRecMode2 == 0x40000 && kCanRecScancode == 0x80000);
static_assert(kCanSetRecCarrier == 0x01000000 && kCanMeasureCarrier == 0x02000000);
static_assert(kCanUseWidebandReceiver == 0x04000000 && kCanSetRecTimeout == 0x10000000);
static_assert(kCanGetRecResolution == 0x20000000 && kCanSetRecCarrierRange == 0x80000000);

// mode2 samples: the type in the top byte, the value (µs, or Hz for a frequency) below.
inline constexpr uint32_t kSampleTypeMask = 0xFF000000;
inline constexpr uint32_t kSampleValueMask = 0x00FFFFFF;
inline constexpr uint32_t kSampleSpace = LIRC_MODE2_SPACE;
inline constexpr uint32_t kSamplePulse = LIRC_MODE2_PULSE;
inline constexpr uint32_t kSampleFrequency = LIRC_MODE2_FREQUENCY;
inline constexpr uint32_t kSampleTimeout = LIRC_MODE2_TIMEOUT;
inline constexpr uint32_t kSampleOverflow = LIRC_MODE2_OVERFLOW;
static_assert(kSampleSpace == 0 && kSamplePulse == 0x01000000);
static_assert(kSampleFrequency == 0x02000000 && kSampleTimeout == 0x03000000);
static_assert(kSampleOverflow == 0x04000000);

// Decoded scancode record read in scancode mode (24 bytes, native byte order).
inline constexpr std::size_t kScancodeRecordSize = 24;
static_assert(sizeof(lirc_scancode) == kScancodeRecordSize);
static_assert(offsetof(lirc_scancode, timestamp) == 0 && offsetof(lirc_scancode, flags) == 8);
static_assert(offsetof(lirc_scancode, rc_proto) == 10 && offsetof(lirc_scancode, keycode) == 12);
static_assert(offsetof(lirc_scancode, scancode) == 16);
inline constexpr uint16_t kScancodeFlagToggle = LIRC_SCANCODE_FLAG_TOGGLE;
inline constexpr uint16_t kScancodeFlagRepeat = LIRC_SCANCODE_FLAG_REPEAT;

// Limits of one write in pulse mode.
inline constexpr std::size_t kMaxWriteEntries = 1024;
inline constexpr uint32_t kMaxWriteDurationUs = 500000;

// The kernel's receive timeout when nobody set one.
inline constexpr uint32_t kDefaultRecTimeoutUs = 125000;

}  // namespace krvxd::lirc
