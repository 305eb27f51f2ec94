// Keys of the crash-side records: what the library writes and the collector reads, named once
// for both. Names only, no code; the collector includes it without reaching into the library.
#pragma once

namespace quillon::record {

// The request envelope (the "UPLOAD-JSON" header).
inline constexpr char kAppKey[] = "ak";
inline constexpr char kEnvelopeTime[] = "tm";
inline constexpr char kAction[] = "ac";  // also the action of each item of a batch
inline constexpr char kProtocol[] = "pro";
inline constexpr char kEnvelopeType[] = "ty";

// An item of a batch ("submore"): its action (kAction) and its record.
inline constexpr char kPost[] = "post";

// A crash or exception record.
inline constexpr char kDevice[] = "dei";       // the device record
inline constexpr char kCarrier[] = "nwt";      // the carrier record
inline constexpr char kDiagnostics[] = "mach"; // the diagnostic record
inline constexpr char kEvent[] = "data";       // the event

// The device record (a registration carries these at its top level).
inline constexpr char kDeviceId[] = "und";
inline constexpr char kAppVersion[] = "av";
inline constexpr char kOsVersion[] = "ov";

// The event.
inline constexpr char kName[] = "name";
inline constexpr char kEventText[] = "et";  // the reason, then the backtrace after the first newline
inline constexpr char kEventTime[] = "tm";
inline constexpr char kMessage[] = "msg";
inline constexpr char kCount[] = "ct";      // occurrences of a pooled exception, as decimal text
inline constexpr char kEventType[] = "ty";
inline constexpr char kBreadcrumbs[] = "csc";

}  // namespace quillon::record
