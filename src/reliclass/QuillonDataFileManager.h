// The crash side's persistent store: one XML property-list file per list under
// Documents/Quillon ("CrashData", "InitData", "ExceptionData", "Configuration").
// A store object is bound to one file; every operation reads the whole file, changes it in
// memory and replaces the file atomically.
//
// Beyond the plain read-modify-write, the store:
//  - serialises its writers across threads and processes with an advisory lock on the store
//    directory, taken with a bounded wait (a crash in a thread that holds it cannot stall the
//    crash path for more than a moment);
//  - reports a failed write as a failure;
//  - moves a file that exists but is not a dictionary property list aside (next to it, as
//    "<name>.unreadable-<time>") and starts a fresh one, so one damaged file cannot refuse
//    every later report;
//  - creates its directory 0700 and its files 0600.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>
#include <vector>

class QuillonDataFileManager {
public:
    static QuillonDataFileManager fileManagerWith(const std::string& path);
    // Documents/<component>, e.g. pathForComponent("Quillon/CrashData").
    static std::string pathForComponent(const std::string& component);
    static std::string crashDataPath() { return pathForComponent("Quillon/CrashData"); }
    static std::string initDataPath() { return pathForComponent("Quillon/InitData"); }
    static std::string exceptionDataPath() { return pathForComponent("Quillon/ExceptionData"); }
    static std::string configurationPath() { return pathForComponent("Quillon/Configuration"); }

    const std::string& filePath() const { return filePath_; }
    void setFilePath(const std::string& path) { filePath_ = path; }

    bool isExistDataFile() const;
    bool createDataFile() const;
    bool isCheckDataFile() const;

    // Configuration.
    bool saveConfiguration(const platform::Value& configuration) const;
    platform::Value getConfiguration() const;  // null when none

    // Request queues (newest first).
    // `dataId`, when given, receives the new entry's identifier.
    bool saveReportData(const platform::Value& payload, std::string* dataId = nullptr) const;
    platform::Value getReportData() const;  // array of payloads, or null without "datalist"
    // The queue's entries themselves ({<id>: payload, "uploadfailed": n, "dataId": id}),
    // newest first; an empty array when there are none.
    platform::Value getReportEntries() const;
    std::int64_t getCacheRecordCount() const;
    bool updateFailedCount() const;
    void delReportSuccessData() const;
    // Removes exactly the entries whose "dataId" is listed; entries saved since stay.
    bool delReportSuccessData(const std::vector<std::string>& dataIds) const;
    void deleteLastData() const;

    // Customized-exception pool.
    // `total`, when given, receives the pool's occurrence total after the save. The pool is
    // replaced atomically but not flushed to disk at once (it is not a crash record, and the
    // report that changes it waits for the write).
    bool saveException(const platform::Value& exception, const std::string& identifier, std::int64_t ep,
                       std::uint64_t* total = nullptr) const;
    void updataDataListWithIdentifier(const std::string& identifier, std::int64_t ep) const;
    bool isHaveException(const std::string& identifier) const;
    std::uint64_t getExceptionDataCount() const;
    platform::Value getExceptionDatas() const;  // all values of "datalist", or null
    bool deleteExceptionDatas() const;
    // Removes only the listed identifiers (entries and their "eplist" places).
    bool deleteExceptionDatas(const std::vector<std::string>& identifiers) const;

private:
    explicit QuillonDataFileManager(std::string path);
    std::string filePath_;
};
