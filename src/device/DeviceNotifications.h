#pragma once

// Between the detectors and the device manager: the detector is the sender, user info
// {"device": std::shared_ptr<iMobileDevice>}.
inline constexpr const char* kMsgNewPhoneConnected = "msgNewPhoneConnected";
inline constexpr const char* kMsgPhoneDisconnected = "msgPhoneDisconnected";
inline constexpr const char* kMsgNewPodConnected = "msgNewPodConnected";
inline constexpr const char* kMsgPodDisconnected = "msgPodDisconnected";
