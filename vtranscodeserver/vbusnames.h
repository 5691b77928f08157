#pragma once
// Where the server is found on the session bus: its well-known name, the path of its class
// objects and the prefix of its interfaces' names. The server and its clients use these.

inline constexpr const char* k_vBusName = "com.zelto.VTranscodeServer";
inline constexpr const char* k_vClassFactoryPath = "/com/zelto/VTranscodeServer";
inline constexpr const char* k_vInterfacePrefix = "com.zelto.VTranscodeServerLib.";
