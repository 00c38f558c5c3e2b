/* A complete host program in plain C over the library's C interface: open the board's adapter,
 * receive on a thread, send a print job band by band (one bulk send per band), ask the board for
 * its status after each band, resend what it asks for, close. The same calls serve C#
 * (P/Invoke) and Python (ctypes) hosts.
 *
 * What is the library's: the flk_ functions. What is the board emulator's: the command sent after
 * each band (EndOfBand, dataSymbol 0x0010), the reply symbol (0x0101) and the sequence number in
 * packetIndex (docs/board-protocol.md). A real board has its own command set.
 *
 * Build (the run path lets it find the library wherever the package was installed):
 *   cc -std=c11 host_example.c $(pkg-config --cflags --libs ferrolink)
 *      -Wl,-rpath,$(pkg-config --variable=libdir ferrolink) */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ferrolink/api/ferrolink.h>

enum { kEndOfBand = 0x0010, kStatusReply = 0x0101 };
#define JOB_SIZE (4 << 20)
#define BAND_SIZE (1 << 20)
#define PACKET_SIZE 1468
#define MAX_FRAME 1600

/* What the receive thread shares with the sending thread. */
typedef struct {
    flk_receiver* receiver;
    atomic_int stop;
    flk_mutex* lock;    /* guards the fields below */
    flk_event* replied; /* set when the awaited reply is in `reply` */
    uint32_t sequence;  /* the command whose reply is awaited; 0: none */
    uint8_t reply[MAX_FRAME];
    int32_t reply_length;
} shared_state;

static void FLK_CALL log_failure(int32_t severity, const char* message, const char* function,
                                 const char* file, uint32_t line, void* user) {
    (void)user;
    if (severity >= FLK_SEVERITY_FAILURE)
        fprintf(stderr, "ferrolink [%d] %s (%s:%u): %s\n", (int)severity, function, file,
                (unsigned)line, message);
}

/* On the receive thread, per valid frame from the board; the bytes are valid only during the
 * call. A status reply counts when it carries the sequence of the latest command. */
static bool FLK_CALL on_frame(const uint8_t* frame, int32_t length, void* user) {
    shared_state* s = user;
    flk_packet_header header;
    int32_t offset = 0, data_length = 0;
    flk_frame_parse(frame, (uint32_t)length, &header, &offset, &data_length);
    if (offset == 0 || header.data_symbol != kStatusReply || length > MAX_FRAME) return true;
    flk_mutex_wait(s->lock, FLK_INFINITE, NULL);
    if (s->sequence != 0 && header.packet_index == s->sequence) {
        memcpy(s->reply, frame, (size_t)length);
        s->reply_length = length;
        s->sequence = 0;
        flk_event_set(s->replied);
    }
    flk_mutex_release(s->lock);
    return true;
}

static uint32_t FLK_CALL receive_thread(void* parameter) {
    shared_state* s = parameter;
    if (flk_receiver_prepare(s->receiver))
        while (!atomic_load(&s->stop) && flk_receiver_one_loop(s->receiver)) {
        }
    flk_receiver_finally(s->receiver);
    return 0;
}

/* Sends the emulator's EndOfBand and reads the board's status reply into `status`. */
static int end_of_band(flk_network* network, shared_state* s, int band, uint32_t packets,
                       flk_reply* status) {
    static uint32_t next_sequence = 1;
    const uint32_t words[3] = {packets, BAND_SIZE, PACKET_SIZE};
    uint8_t data[12], frame[MAX_FRAME];
    int32_t frame_length = 0, offset = 0, data_length = 0;
    for (int i = 0; i < 3; ++i) flk_wire_store32(data, sizeof data, 4 * i, words[i]);

    flk_mutex_wait(s->lock, FLK_INFINITE, NULL);
    const uint32_t sequence = next_sequence++;
    s->sequence = sequence;
    flk_event_reset(s->replied);
    flk_mutex_release(s->lock);

    if (flk_frame_build(kEndOfBand, (uint32_t)band, sequence, data, 12, 60, FLK_PADDING_ZERO, frame,
                        sizeof frame, &frame_length) != FLK_OK)
        return 0;
    void* handle = flk_network_lock(network, 1000, NULL);
    if (handle == NULL) return 0;
    const flk_status sent = flk_send_frame(handle, frame, frame_length, 1);
    flk_network_unlock(network);
    if (sent != FLK_OK || flk_event_wait(s->replied, 2000, NULL) != FLK_OK) return 0;

    flk_packet_header header;
    if (flk_frame_parse(s->reply, (uint32_t)s->reply_length, &header, &offset, &data_length) !=
        FLK_OK)
        return 0;
    flk_reply_init(status, 1);
    return flk_reply_parse(status, s->reply + offset, data_length) == FLK_OK;
}

int main(void) {
    flk_log_set_handler(NULL, log_failure, NULL);
    if ((flk_api_version() >> 16) != (FLK_API_VERSION >> 16)) {
        fprintf(stderr, "library interface %u.%u, built for %u.%u\n", flk_api_version() >> 16,
                flk_api_version() & 0xFFFF, FLK_API_VERSION >> 16, FLK_API_VERSION & 0xFFFF);
        return 1;
    }
    flk_network* network = flk_network_create();
    bool abort_search = false; /* another thread may set it to cut the search short */
    if (network == NULL || flk_network_open_auto(network, 0, &abort_search) != FLK_OK) {
        fprintf(stderr, "no board found\n");
        flk_network_destroy(network);
        return 1;
    }
    shared_state* s = calloc(1, sizeof *s);
    uint8_t* job = malloc(JOB_SIZE);
    flk_packet_slice* slices = malloc(sizeof *slices * (BAND_SIZE / PACKET_SIZE + 1));
    int exit_code = 1;
    flk_thread* thread = NULL;
    if (s == NULL || job == NULL || slices == NULL) goto done;
    atomic_init(&s->stop, 0);
    s->lock = flk_mutex_create();
    s->replied = flk_event_create(0, 0);
    s->receiver = flk_receiver_create();
    if (s->lock == NULL || s->replied == NULL || s->receiver == NULL) goto done;
    flk_receiver_setup(s->receiver, FLK_CAPTURE_BOARD_TO_PC,
                       flk_network_handle(network, FLK_INFINITE, NULL), on_frame, s);
    thread = flk_thread_create(receive_thread, s, NULL);
    if (thread == NULL) goto done;

    memset(job, 0x5A, JOB_SIZE); /* the print data of one job */
    int32_t count = 0;
    for (int32_t at = 0; at < BAND_SIZE; at += PACKET_SIZE, ++count) {
        slices[count].offset = at;
        slices[count].length = BAND_SIZE - at < PACKET_SIZE ? BAND_SIZE - at : PACKET_SIZE;
    }
    exit_code = 0;
    for (int band = 0; band * BAND_SIZE < JOB_SIZE && exit_code == 0; ++band) {
        int32_t start = 0;
        for (;;) {
            flk_reply status;
            flk_status sent = FLK_FAILED;
            void* handle =
                flk_network_lock(network, FLK_INFINITE, NULL); /* no frame between ours */
            if (handle != NULL) {
                sent = flk_send_print_data(handle, job + (size_t)band * BAND_SIZE, BAND_SIZE,
                                           slices, count, PACKET_SIZE, start, band);
                flk_network_unlock(network);
            }
            if (sent != FLK_OK || !end_of_band(network, s, band, (uint32_t)count, &status)) {
                exit_code = 1;
                break;
            }
            if (flk_reply_exist_error_fatal(&status)) {
                exit_code = 2;
                break;
            }
            if (!flk_reply_exist_error_resend(&status)) break; /* band complete */
            start = flk_reply_frame_index_of_resend(&status);  /* resend the rest */
        }
    }

done:
    if (thread != NULL) { /* stop the receive thread before the handle goes */
        atomic_store(&s->stop, 1);
        flk_receiver_stop(s->receiver);
        flk_thread_join(thread);
    }
    if (s != NULL) {
        flk_receiver_destroy(s->receiver);
        flk_event_destroy(s->replied);
        flk_mutex_destroy(s->lock);
    }
    free(slices);
    free(job);
    free(s);
    flk_network_close(network, FLK_INFINITE, NULL);
    flk_network_destroy(network);
    return exit_code;
}
