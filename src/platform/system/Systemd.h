// libsystemd, opened at run time.
//
// The journal reader, the modem query and the machine-derived identifier are its only users,
// and none of them is on a process's start path; linked, it would cost every host its load
// (with libcap, liblzma, libzstd and liblz4) at exec. Log lines reach the journal without it
// (LogFile.cpp).
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

namespace platform::systemd {

// The entry points used, named as in libsystemd.
#define QUILLON_SYSTEMD_FUNCTIONS(F)                                                                              \
    F(sd_journal_open) F(sd_journal_open_files) F(sd_journal_add_match) F(sd_journal_close)                       \
    F(sd_journal_get_data) F(sd_journal_get_realtime_usec) F(sd_journal_seek_head) F(sd_journal_next)             \
    F(sd_journal_seek_tail) F(sd_journal_previous) F(sd_bus_new) F(sd_bus_set_address) F(sd_bus_set_bus_client)  \
    F(sd_bus_set_method_call_timeout) F(sd_bus_start) F(sd_bus_flush_close_unref) F(sd_bus_message_unref)         \
    F(sd_bus_call_method) F(sd_bus_get_property_string) F(sd_bus_message_enter_container)                         \
    F(sd_bus_message_exit_container) F(sd_bus_message_read) F(sd_bus_message_skip)                                \
    F(sd_id128_get_machine_app_specific)

struct Api {
#define QUILLON_SYSTEMD_FIELD(name) decltype(&::name) name = nullptr;
    QUILLON_SYSTEMD_FUNCTIONS(QUILLON_SYSTEMD_FIELD)
#undef QUILLON_SYSTEMD_FIELD
};

// Opens libsystemd.so.0 on the first call; later and concurrent callers wait for it. nullptr
// when it cannot be opened or lacks one of the entry points.
const Api* load();

}  // namespace platform::systemd
