/* The benchmark's peer: reads a device's archive blocks over the same simulated line with a
 * general-purpose Modbus RTU library, as a field engineer's script would. Built by bench/run.sh
 * only; not part of the program.
 *   peer_modbus DEVICE BAUD PARITY(N|O|E) STOPBITS ADDRESS BLOCKS
 * The library frames and sends the raw request (adding the CRC); block 67 is not a standard
 * function, so the 133-byte reply is read from the library's descriptor and checked here. */
#include <errno.h>
#include <modbus.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

enum { kReplyLen = 133, kPauseMs = 25, kTimeoutMs = 1300 };

static uint16_t crc16(const uint8_t* p, int n) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
    }
    return crc;
}

static void pause_ms(int ms) {
    struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

static int read_reply(int fd, uint8_t* reply) {
    int got = 0;
    while (got < kReplyLen) {
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, kTimeoutMs);
        if (r <= 0)
            return -1;
        ssize_t n = read(fd, reply + got, (size_t)(kReplyLen - got));
        if (n <= 0)
            return -1;
        got += (int)n;
    }
    uint16_t crc = crc16(reply, kReplyLen - 2);
    return (reply[kReplyLen - 2] == (crc & 0xFF) && reply[kReplyLen - 1] == (crc >> 8)) ? 0 : -1;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: %s DEVICE BAUD PARITY STOPBITS ADDRESS BLOCKS\n", argv[0]);
        return 2;
    }
    modbus_t* ctx = modbus_new_rtu(argv[1], atoi(argv[2]), argv[3][0], 8, atoi(argv[4]));
    if (ctx == NULL || modbus_connect(ctx) == -1) {
        fprintf(stderr, "peer: cannot open %s: %s\n", argv[1], modbus_strerror(errno));
        return 1;
    }
    const int address = atoi(argv[5]);
    const int blocks = atoi(argv[6]);
    const int fd = modbus_get_socket(ctx);
    uint8_t reply[kReplyLen];
    for (int k = 1; k <= blocks; ++k) {
        uint8_t request[4] = {(uint8_t)address, 67, 0, (uint8_t)k};
        pause_ms(kPauseMs);
        modbus_flush(ctx);
        if (modbus_send_raw_request(ctx, request, 4) == -1 || read_reply(fd, reply) != 0) {
            fprintf(stderr, "peer: block %d failed\n", k);
            return 1;
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
