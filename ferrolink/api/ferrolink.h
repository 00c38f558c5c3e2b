/* The one binary boundary of libferrolink.so / ferrolink.dll: a plain C interface that a host built
 * with any compiler and standard library can call. The C++ classes a host uses are header-only
 * layers over these functions (C, C#, Python and other hosts call them directly).
 *
 * Rules that hold for every function:
 * - Nothing but fixed-width integers, byte pointers with lengths, opaque handles and C function
 *   pointers crosses; no exception leaves a function (a failed allocation is FLK_NO_MEMORY).
 * - What the library allocates (handles) the library frees (the matching _destroy). Text and
 *   byte results are written into caller-owned buffers: `capacity` is its size in bytes, and
 *   `*length` receives the size needed (text: without the terminating zero, which is always
 *   written when it fits); FLK_BUFFER_TOO_SMALL leaves the buffer's contents unspecified.
 * - Failures are logged where they are found (see flk_log_set_handler) and answered with a status.
 * - "Wait pair": `milliseconds` is the longest wait (FLK_INFINITE: no limit); `abort_flag` (may be
 *   null) is a caller-owned flag that ends the wait when it reads true.
 * - A capture handle is the capture library's pcap_t*, passed as void*. */
#ifndef FERROLINK_API_FERROLINK_H
#define FERROLINK_API_FERROLINK_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(FERROLINK_BUILDING_LIBRARY)
#define FLK_API __declspec(dllexport)
#elif defined(FERROLINK_STATIC_CORE)
#define FLK_API
#else
#define FLK_API __declspec(dllimport)
#endif
#define FLK_CALL __cdecl
#else
/* Elsewhere the library's link step chooses what it exports (the flk_ names and
 * FLK_SendPrintData). */
#define FLK_API
#define FLK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status ---------------------------------------------------------------------------------- */
typedef int32_t flk_status;
#define FLK_OK 0               /* done */
#define FLK_FAILED 1           /* the operation failed; the log says where */
#define FLK_INVALID_ARGUMENT 2 /* a null handle or pointer, a negative or too large length */
#define FLK_BUFFER_TOO_SMALL 3 /* *length says how much is needed */
#define FLK_TIMEOUT 4          /* the wait ended by time-out or by the abort flag */
#define FLK_NO_MEMORY 5        /* an allocation failed */
#define FLK_NOT_FOUND 6        /* nothing to list, no such adapter */

#define FLK_INFINITE 0xFFFFFFFFu

/* Interface version: (major << 16) | minor. A host built against major M needs a library of major
 * M and a minor at least its own. */
#define FLK_API_VERSION ((1u << 16) | 1u)
FLK_API uint32_t FLK_CALL flk_api_version(void);
/* A fixed English text for a status; never null. */
FLK_API const char* FLK_CALL flk_status_text(flk_status status);

/* ---- Logging --------------------------------------------------------------------------------- */
/* Severities: 1 notice (does not fail the operation), 2 failure. */
#define FLK_SEVERITY_NOTICE 1
#define FLK_SEVERITY_FAILURE 2

/* Asked before a record is formatted: nonzero when the host wants records of this severity.
 * Nothing is formatted while it answers 0. */
typedef int32_t(FLK_CALL* flk_log_enabled_fn)(int32_t severity, void* user);
/* One record: the message, the signature of the function that logged it (as its compiler prints
 * it), the source file and the line. `function` and `file` are literals that stay valid while the
 * library is loaded; `message` is valid only during the call. Called on the thread that logs,
 * possibly several threads at once. */
typedef void(FLK_CALL* flk_log_record_fn)(int32_t severity, const char* message,
                                          const char* function, const char* file, uint32_t line,
                                          void* user);
/* Installs the process's one log handler (null `record`: records are dropped, the default).
 * Replacing a handler while other threads log is safe; the old one may still see records that
 * were in flight. */
FLK_API void FLK_CALL flk_log_set_handler(flk_log_enabled_fn enabled, flk_log_record_fn record,
                                          void* user);
/* Whether a record of this severity would reach the handler. */
FLK_API int32_t FLK_CALL flk_log_enabled(int32_t severity);
/* Hands one record of the host-side layer to the handler, as the library's own records go.
 * `function` and `file` must stay valid while the library is loaded (literals). */
FLK_API void FLK_CALL flk_log_write(int32_t severity, const char* message, const char* function,
                                    const char* file, uint32_t line);

/* ---- Process-wide protocol values (one copy: the library's) ---------------------------------- */
FLK_API int32_t FLK_CALL flk_frame_maximum_size_get(void);
FLK_API void FLK_CALL flk_frame_maximum_size_set(int32_t size);
/* Six bytes each, valid as long as the library is loaded. */
FLK_API const uint8_t* FLK_CALL flk_pc_mac(void);
FLK_API const uint8_t* FLK_CALL flk_board_mac(void);
/* `length` must be 6. */
FLK_API flk_status FLK_CALL flk_board_mac_set(const uint8_t* mac, int32_t length);
FLK_API void FLK_CALL flk_board_mac_first_byte_update(uint8_t first);

/* ---- Board frames ---------------------------------------------------------------------------- */
#define FLK_PADDING_ZERO 0
#define FLK_PADDING_RANDOM 1
#define FLK_PADDING_SEQUENCE 2

/* A received frame's header in host byte order. */
typedef struct flk_packet_header {
    uint8_t destination_mac[6];
    uint8_t source_mac[6];
    uint16_t frame_length;
    uint16_t data_symbol;
    uint32_t frame_index;
    uint32_t packet_index;
} flk_packet_header;

/* Builds one frame into `frame` (`capacity` bytes); *length gets the frame's length. A refusal
 * found once the frame's block was made (data longer than its area) still writes the partial
 * frame (header, zeroed data area) and its length; other refusals leave *length 0. */
FLK_API flk_status FLK_CALL flk_frame_build(uint16_t data_symbol, uint32_t frame_index,
                                            uint32_t packet_index, const uint8_t* data,
                                            int32_t data_length, uint16_t data_capacity,
                                            int32_t padding, uint8_t* frame, int32_t capacity,
                                            int32_t* length);
/* A print-data frame whose data area is sized from `capacity_basis`. */
FLK_API flk_status FLK_CALL flk_frame_build_print(int32_t frame_index, uint32_t packet_index,
                                                  int32_t padding, int32_t capacity_basis,
                                                  const uint8_t* data, int32_t data_length,
                                                  uint8_t* frame, int32_t capacity,
                                                  int32_t* length);
/* Data-area size for print data of this length; -1 when the frame length would not fit. */
FLK_API int32_t FLK_CALL flk_print_data_capacity(int32_t data_length);
FLK_API uint32_t FLK_CALL flk_checksum_get(const uint8_t* data, int32_t length);
FLK_API int32_t FLK_CALL flk_checksum_is_valid(const uint8_t* data, int32_t length);
FLK_API int32_t FLK_CALL flk_is_board_mac(const uint8_t* mac);
FLK_API int32_t FLK_CALL flk_is_pc_mac(const uint8_t* mac);
/* Writes `value` big-endian into bytes offset..offset+3 of the `length`-byte block `bytes` (the
 * words of a command's data, a checksum); FLK_INVALID_ARGUMENT, nothing written, when they do not
 * all lie inside it. Since 1.1. */
FLK_API flk_status FLK_CALL flk_wire_store32(uint8_t* bytes, int32_t length, int32_t offset,
                                             uint32_t value);
/* Parses a frame: header, and where its data area starts and how long it is. A refused data
 * area (FLK_FAILED) still gives the header when the frame has one (*data_offset 24, else 0). */
FLK_API flk_status FLK_CALL flk_frame_parse(const uint8_t* frame, uint32_t frame_length,
                                            flk_packet_header* header, int32_t* data_offset,
                                            int32_t* data_length);

/* ---- Sending and dumps ----------------------------------------------------------------------- */
FLK_API flk_status FLK_CALL flk_send_frame(void* pcap_handle, const uint8_t* frame, int32_t length,
                                           int32_t check_checksum);
FLK_API flk_status FLK_CALL flk_send_print_frame(void* pcap_handle, uint32_t frame_index,
                                                 uint32_t packet_index, int32_t padding,
                                                 const uint8_t* data, int32_t data_length);
/* Zero padding; with `valid_checksum` 0 the frame carries a checksum the board rejects. */
FLK_API flk_status FLK_CALL flk_send_print_frame_checked(void* pcap_handle, uint32_t frame_index,
                                                         uint32_t packet_index, const uint8_t* data,
                                                         int32_t data_length,
                                                         int32_t valid_checksum);
/* FLK_OK when a frame from the board MAC to the PC MAC arrives within `timeout_ms`. */
FLK_API flk_status FLK_CALL flk_detect_reply(void* pcap_handle, int32_t timeout_ms);

/* One slice of print data: a packet of `length` bytes at `offset` in the block. */
typedef struct flk_packet_slice {
    int32_t offset;
    int32_t length;
} flk_packet_slice;
/* Bulk send, as FLK_SendPrintData: slices[start_index..count) as print-data frames with random
 * padding and `frame_index`, through one send queue. `buffer_size` 0: slices are not checked
 * against the block. The caller has exclusive use of the handle for the call. */
FLK_API flk_status FLK_CALL flk_send_print_data(void* pcap_handle, const uint8_t* buffer,
                                                int64_t buffer_size, const flk_packet_slice* slices,
                                                int32_t count, int32_t capacity_basis,
                                                int32_t start_index, int32_t frame_index);

/* Hexadecimal dumps: to the library's standard output, or as text into a caller's buffer. */
FLK_API flk_status FLK_CALL flk_dump_console(const uint8_t* data, int32_t length);
FLK_API flk_status FLK_CALL flk_dump_console_packet(const flk_packet_header* header,
                                                    const uint8_t* data, int32_t data_length);
FLK_API flk_status FLK_CALL flk_dump_text(const uint8_t* data, int32_t length, char* text,
                                          int32_t capacity, int32_t* text_length);

/* ---- Board replies --------------------------------------------------------------------------- */
/* The reading of one status reply; flags are 0 or 1. */
typedef struct flk_reply {
    int32_t check_error;
    int32_t frame_index_of_cur_max;
    int32_t frame_index_of_resend;
    uint8_t error_bits[14]; /* bit i of the error word at error_bits[i] */
    uint16_t version_high;
    uint16_t version_low;
    uint32_t band_info[4];
} flk_reply;
/* Resets the error fields (as a fresh reading with `check_error`). */
FLK_API void FLK_CALL flk_reply_init(flk_reply* reply, int32_t check_error);
/* Error word, version and band from a reply's data area; a failing step keeps earlier results. */
FLK_API flk_status FLK_CALL flk_reply_parse(flk_reply* reply, const uint8_t* data,
                                            int32_t data_length);
FLK_API flk_status FLK_CALL flk_reply_parse_version(flk_reply* reply, const uint8_t* data,
                                                    int32_t data_length);
FLK_API flk_status FLK_CALL flk_reply_parse_band(flk_reply* reply, const uint8_t* data,
                                                 int32_t data_length);
FLK_API int32_t FLK_CALL flk_reply_frame_index_of_resend(const flk_reply* reply);
FLK_API int32_t FLK_CALL flk_reply_exist_error(const flk_reply* reply);
FLK_API int32_t FLK_CALL flk_reply_exist_error_resend(const flk_reply* reply);
FLK_API int32_t FLK_CALL flk_reply_exist_error_fatal(const flk_reply* reply);

/* ---- Events and mutex ------------------------------------------------------------------------ */
typedef struct flk_event flk_event;
typedef struct flk_mutex flk_mutex;
/* Null on failure. */
FLK_API flk_event* FLK_CALL flk_event_create(int32_t auto_reset, int32_t initial_state);
FLK_API void FLK_CALL flk_event_destroy(flk_event* event);
/* FLK_OK when signalled within the wait pair, FLK_TIMEOUT otherwise. */
FLK_API flk_status FLK_CALL flk_event_wait(flk_event* event, uint32_t milliseconds,
                                           const bool* abort_flag);
FLK_API flk_status FLK_CALL flk_event_set(flk_event* event);
FLK_API flk_status FLK_CALL flk_event_reset(flk_event* event);
FLK_API int32_t FLK_CALL flk_event_is_set(const flk_event* event);
/* What a host's own wait waits on: on Windows a HANDLE for WaitForMultipleObjects, signalled
 * while the event is (the OS wait only watches; take the event with flk_event_wait, 0 ms); on
 * Linux an identity of the event, nothing to wait on. */
FLK_API void* FLK_CALL flk_event_wait_handle(flk_event* event);

/* Re-entrant for its owner. */
FLK_API flk_mutex* FLK_CALL flk_mutex_create(void);
FLK_API void FLK_CALL flk_mutex_destroy(flk_mutex* mutex);
FLK_API flk_status FLK_CALL flk_mutex_wait(flk_mutex* mutex, uint32_t milliseconds,
                                           const bool* abort_flag);
/* FLK_FAILED when the calling thread does not own it. */
FLK_API flk_status FLK_CALL flk_mutex_release(flk_mutex* mutex);
FLK_API int32_t FLK_CALL flk_mutex_is_owned(const flk_mutex* mutex);
/* As flk_event_wait_handle; on Windows signalled while the mutex is free. */
FLK_API void* FLK_CALL flk_mutex_wait_handle(flk_mutex* mutex);

/* ---- Threads --------------------------------------------------------------------------------- */
typedef struct flk_thread flk_thread;
typedef uint32_t(FLK_CALL* flk_thread_proc)(void* parameter);
/* Starts proc(parameter) at once; null when no thread could be made. */
FLK_API flk_thread* FLK_CALL flk_thread_create(flk_thread_proc proc, void* parameter,
                                               uint32_t* thread_id);
/* Waits for the thread's end and frees the handle; not from the thread itself. */
FLK_API void FLK_CALL flk_thread_join(flk_thread* thread);
FLK_API int32_t FLK_CALL flk_thread_is_current(const flk_thread* thread);
/* Monotonic milliseconds. */
FLK_API uint32_t FLK_CALL flk_tick_count(void);

/* ---- Receiving ------------------------------------------------------------------------------- */
#define FLK_CAPTURE_PC_TO_BOARD 1
#define FLK_CAPTURE_BOARD_TO_PC 2
#define FLK_CAPTURE_TO_PC_OR_BOARD 3
/* Runs on the receiving thread per kept frame; the bytes are valid only during the call. */
typedef bool(FLK_CALL* flk_receive_fn)(const uint8_t* frame, int32_t length, void* user);
typedef struct flk_receiver flk_receiver;
/* The per-frame and per-loop work of a receive thread; the thread is the caller's. */
FLK_API flk_receiver* FLK_CALL flk_receiver_create(void);
FLK_API void FLK_CALL flk_receiver_destroy(flk_receiver* receiver);
/* Stores the capture mode, the borrowed handle and the callback. */
FLK_API flk_status FLK_CALL flk_receiver_setup(flk_receiver* receiver, int32_t mode,
                                               void* pcap_handle, flk_receive_fn callback,
                                               void* user);
/* On the receiving thread: before the loop, one loop step (nonzero: go on), after the loop. */
FLK_API int32_t FLK_CALL flk_receiver_prepare(flk_receiver* receiver);
FLK_API int32_t FLK_CALL flk_receiver_one_loop(flk_receiver* receiver);
FLK_API void FLK_CALL flk_receiver_finally(flk_receiver* receiver);
/* Any thread: breaks a dispatch in progress and forgets the handle (never closes it). */
FLK_API void FLK_CALL flk_receiver_stop(flk_receiver* receiver);
/* Prints "received check packet." and answers 0 for a check frame from the board. */
FLK_API int32_t FLK_CALL flk_receiver_process_check(const uint8_t* frame, int32_t length);

/* ---- Adapters -------------------------------------------------------------------------------- */
typedef struct flk_device_list flk_device_list;
FLK_API flk_device_list* FLK_CALL flk_device_list_create(void);
FLK_API void FLK_CALL flk_device_list_destroy(flk_device_list* list);
/* The capture library's device list (pcap_if_t*), owned by `list`; null when none. */
FLK_API void* FLK_CALL flk_device_list_find(flk_device_list* list);
/* The adapter info block: 0 written (a null buffer: *size gets the size it needs), 1 buffer too
 * small, -1 no devices (*size unchanged in both). */
FLK_API int32_t FLK_CALL flk_device_list_adaptor_info(flk_device_list* list, uint8_t* buffer,
                                                      int32_t* size);
/* Lists the devices on the console and reads the operator's choice. */
FLK_API flk_status FLK_CALL flk_device_list_select(flk_device_list* list, char* name,
                                                   int32_t capacity, int32_t* length);

/* Packet-driver queries. The driver adapter names, one per call: index 0 first, FLK_NOT_FOUND
 * past the last (the list is read anew at every call). */
FLK_API flk_status FLK_CALL flk_npf_adapter_name(int32_t index, char* name, int32_t capacity,
                                                 int32_t* length);
FLK_API flk_status FLK_CALL flk_npf_gigabit_adapter_name(char* name, int32_t capacity,
                                                         int32_t* length);
/* `device` is a pcap_if_t* of a device list. `mac` receives 6 bytes. */
FLK_API flk_status FLK_CALL flk_npf_device_mac(void* device, uint8_t* mac);
FLK_API flk_status FLK_CALL flk_npf_adapter_mac(const char* adapter_name, uint8_t* mac);
FLK_API flk_status FLK_CALL flk_npf_adapter_link_speed(const char* adapter_name,
                                                       uint64_t* bits_per_second);
FLK_API flk_status FLK_CALL flk_npf_device_to_adapter_name(const char* device_name, char* name,
                                                           int32_t capacity, int32_t* length);

/* The PC's adapter table. */
typedef struct flk_adapter_info {
    uint8_t address[8];
    uint32_t address_length;
    uint32_t index;
    uint32_t status; /* 1: connected */
    char name[256];
} flk_adapter_info;
/* Up to `capacity` records; *count gets the number of adapters (more than `capacity`:
 * FLK_BUFFER_TOO_SMALL). */
FLK_API flk_status FLK_CALL flk_adapter_table_get(flk_adapter_info* adapters, int32_t capacity,
                                                  int32_t* count);

/* ---- Capture handles ------------------------------------------------------------------------- */
/* Capture files: the source string of a path, and opening it. */
FLK_API flk_status FLK_CALL flk_capfile_source(const char* path, char* source, int32_t capacity,
                                               int32_t* length);
FLK_API flk_status FLK_CALL flk_capfile_open(const char* source, void** pcap_handle);
/* Closes any capture handle obtained from this library. */
FLK_API void FLK_CALL flk_pcap_close(void* pcap_handle);

/* The shared network handle on the board's adapter, with its claim on the board. */
typedef struct flk_network flk_network;
FLK_API flk_network* FLK_CALL flk_network_create(void);
/* Closes the handle and releases the claim. */
FLK_API void FLK_CALL flk_network_destroy(flk_network* network);
FLK_API flk_status FLK_CALL flk_network_open_auto(flk_network* network, uint32_t milliseconds,
                                                  const bool* abort_flag);
FLK_API flk_status FLK_CALL flk_network_open_console(flk_network* network, uint32_t milliseconds,
                                                     const bool* abort_flag);
FLK_API flk_status FLK_CALL flk_network_open_device(flk_network* network, const char* device_name);
FLK_API flk_status FLK_CALL flk_network_close(flk_network* network, uint32_t milliseconds,
                                              const bool* abort_flag);
FLK_API int32_t FLK_CALL flk_network_is_open(flk_network* network, uint32_t milliseconds,
                                             const bool* abort_flag);
/* The handle (null when none or the lock was not obtained in time). */
FLK_API void* FLK_CALL flk_network_handle(flk_network* network, uint32_t milliseconds,
                                          const bool* abort_flag);
/* The handle with the lock held for the calling thread until flk_network_unlock. */
FLK_API void* FLK_CALL flk_network_lock(flk_network* network, uint32_t milliseconds,
                                        const bool* abort_flag);
FLK_API void FLK_CALL flk_network_unlock(flk_network* network);
FLK_API flk_status FLK_CALL flk_network_device_name(flk_network* network, char* name,
                                                    int32_t capacity, int32_t* length);

/* ---- Configuration (previous adapter, software MAC) ------------------------------------------ */
FLK_API flk_status FLK_CALL flk_config_previous_device_get(char* name, int32_t capacity,
                                                           int32_t* length);
FLK_API flk_status FLK_CALL flk_config_previous_device_set(const char* name);
/* 1 any first byte, 2 only the configured first byte. */
FLK_API int32_t FLK_CALL flk_config_mac_mode_get(void);
FLK_API flk_status FLK_CALL flk_config_mac_mode_set(int32_t mode);
FLK_API uint8_t FLK_CALL flk_config_mac_address_get(void);
FLK_API flk_status FLK_CALL flk_config_mac_address_set(uint8_t first_byte);
/* The settings file's path (FLK_NOT_FOUND: no home to put it in). */
FLK_API flk_status FLK_CALL flk_config_path(char* path, int32_t capacity, int32_t* length);
/* FLK_OK when the settings can be read and stored; otherwise the reason in `why`. */
FLK_API flk_status FLK_CALL flk_config_path_check(char* why, int32_t capacity, int32_t* length);

#ifdef __cplusplus
}
#endif

#endif /* FERROLINK_API_FERROLINK_H */
