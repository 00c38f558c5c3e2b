/* A Visual Studio host in miniature: MSVC's ABI (clang --target=x86_64-pc-windows-msvc), linked by
 * lld-link against ferrolink.lib and nothing of mingw's, calling the library only through its C
 * interface. No Microsoft headers exist here, so the few C runtime functions it uses are declared
 * below and come from msvcrt.dll; the entry point is its own (no CRT start-up code).
 *
 * Checks: the interface version; the worked example's print frame built by the library, byte for
 * byte, with a checksum the host sums itself; a board MAC set by the host is the one the next
 * frame carries; opening a device without Npcap fails with the named status and text, and the
 * library's failure record reaches the host's log handler. Prints one line per check; exit 0 when
 * all hold, otherwise the number of failed checks. */
#include <ferrolink/api/ferrolink.h>

int __cdecl printf(const char* format, ...);
void __cdecl exit(int status);

static int failures;

static void check(int ok, const char* what) {
    printf("msvc-host: %s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

static int contains(const char* text, const char* part) {
    for (; *text; ++text) {
        const char* a = text;
        const char* b = part;
        while (*a && *b && *a == *b) ++a, ++b;
        if (!*b) return 1;
    }
    return 0;
}

/* The board frame's own rule: its whole big-endian words sum to 0 modulo 2^32. */
static uint32_t word_sum(const uint8_t* frame, int32_t length) {
    uint32_t sum = 0;
    for (int32_t i = 0; i + 4 <= length; i += 4)
        sum += ((uint32_t)frame[i] << 24) | ((uint32_t)frame[i + 1] << 16) |
               ((uint32_t)frame[i + 2] << 8) | frame[i + 3];
    return sum;
}

static int same_bytes(const uint8_t* a, const uint8_t* b, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return 0;
    return 1;
}

static int npcap_missing_logged;
static int32_t FLK_CALL wants(int32_t severity, void* user) {
    (void)user;
    return severity >= FLK_SEVERITY_NOTICE;
}
static void FLK_CALL record(int32_t severity, const char* message, const char* function,
                            const char* file, uint32_t line, void* user) {
    (void)file;
    (void)line;
    if (user == &npcap_missing_logged && severity == FLK_SEVERITY_FAILURE &&
        contains(message, "Npcap is not installed") && function && *function)
        npcap_missing_logged = 1;
}

static void frames(void) {
    /* Bytes 0-23, the first data bytes and the checksum of the design's worked example. */
    static const uint8_t header[24] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x7b, 0x23,
                                       0xfc, 0x98, 0x10, 0x99, 0x00, 0x58, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    static const uint8_t checksum[4] = {0xf4, 0xbc, 0xba, 0xcb};
    static const uint8_t data[3] = {'a', 'b', 'c'};
    uint8_t frame[128];
    int32_t length = 0;
    flk_status s = flk_frame_build_print(1, 0, FLK_PADDING_ZERO, 3, data, 3, frame,
                                         (int32_t)sizeof frame, &length);
    check(s == FLK_OK && length == 88, "print frame of 3 bytes is 88 bytes long");
    if (s != FLK_OK || length != 88) return;
    check(same_bytes(frame, header, 24) && same_bytes(frame + 24, data, 3) &&
              same_bytes(frame + 84, checksum, 4),
          "print frame is the worked example, byte for byte");
    check(word_sum(frame, length) == 0, "its words sum to 0 as the host adds them");
    check(flk_checksum_is_valid(frame, length) == 1, "the library agrees");
    frame[30] ^= 0x40;
    check(flk_checksum_is_valid(frame, length) == 0, "one changed bit is caught by the library");

    uint8_t small[16];
    s = flk_frame_build_print(1, 0, FLK_PADDING_ZERO, 3, data, 3, small, (int32_t)sizeof small,
                              &length);
    check(s == FLK_BUFFER_TOO_SMALL && length == 88,
          "a too small buffer is refused with the size it needs");

    /* One copy of the board MAC, the library's: what the host sets, frames carry. */
    static const uint8_t mac[6] = {0x22, 0x34, 0x56, 0x78, 0x9a, 0xbc};
    check(flk_board_mac_set(mac, 6) == FLK_OK && same_bytes(flk_board_mac(), mac, 6),
          "board MAC set by the host reads back");
    s = flk_frame_build_print(1, 0, FLK_PADDING_ZERO, 3, data, 3, frame, (int32_t)sizeof frame,
                              &length);
    check(s == FLK_OK && frame[0] == 0x22 && word_sum(frame, length) == 0,
          "the next frame carries it, checksum recomputed");
    check(flk_board_mac_set(mac, 5) == FLK_INVALID_ARGUMENT, "a 5-byte MAC is refused");
}

static void open_without_npcap(void) {
    flk_log_set_handler(wants, record, &npcap_missing_logged);
    flk_network* network = flk_network_create();
    check(network != NULL, "network handle created");
    if (!network) return;
    const flk_status s =
        flk_network_open_device(network, "rpcap://\\Device\\NPF_{00000000-0000-0000-0000-0000000000F1}");
    printf("msvc-host: open: status %d \"%s\"\n", (int)s, flk_status_text(s));
    check(s == FLK_FAILED && contains(flk_status_text(s), "failed"),
          "opening a device without Npcap fails with FLK_FAILED");
    check(npcap_missing_logged, "the \"Npcap is not installed\" record reached the host's handler");
    check(flk_network_is_open(network, 0, NULL) == 0, "and nothing is open");
    flk_network_destroy(network);
    flk_log_set_handler(NULL, NULL, NULL);
}

static int run(void) {
    const uint32_t version = flk_api_version();
    printf("msvc-host: Ferrolink C interface %u.%u\n", (unsigned)(version >> 16),
           (unsigned)(version & 0xFFFFu));
    check(version >> 16 == FLK_API_VERSION >> 16 && (version & 0xFFFFu) >= (FLK_API_VERSION & 0xFFFFu),
          "library serves the interface version this host was built for");
    frames();
    open_without_npcap();
    printf("msvc-host: %d check(s) failed\n", failures);
    return failures;
}

int mainCRTStartup(void) {
    exit(run());
    return 0;
}
