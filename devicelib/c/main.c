/*
 * Example firmware main loop for a Kinetra-style node with id 32.
 *
 * The UART below is a stub so that the example runs on a PC: its receive side plays back a frame
 * in which the host asks this node for its roll/pitch/yaw record, and its transmit side prints the
 * frames as hexadecimal. On a board, replace Uart_Read and Uart_Write with the real driver.
 */
#include "NimboProfile/nimbo_profile.h"

#include <stdio.h>
#include <string.h>

#define NODE_ID 32u

/* ---- stub UART ---- */

/* AA 55, length 8, Np_Request (cmd 12, from host 2 to node 32) for cmd 35, CRC. */
static const uint8_t kIncoming[] = {0xAA, 0x55, 0x08, 0x0C, 0x08, 0x00, 0x04,
                                    0x23, 0x00, 0x00, 0x00, 0x1E, 0xE1};
static size_t incomingPos = 0;

/* Returns up to max bytes that "arrived", a few at a time as an interrupt-fed FIFO would. */
static int Uart_Read(uint8_t *buffer, int max)
{
    int n = 0;
    while (n < max && n < 5 && incomingPos < sizeof(kIncoming))
        buffer[n++] = kIncoming[incomingPos++];
    return n;
}

static int Uart_Write(const uint8_t *data, int size)
{
    int i;
    printf("TX %2d bytes:", size);
    for (i = 0; i < size; ++i)
        printf(" %02X", data[i]);
    printf("\n");
    return size;
}

/* ---- application ---- */

typedef struct
{
    NimboProfile link;
    uint32_t microseconds;
    int rpyRequested;
} Firmware;

static int WriteFrame(void *user, const uint8_t *frame, int frameSize)
{
    (void)user;
    return Uart_Write(frame, frameSize) == frameSize ? NP_SUCC_ : NP_FAIL_;
}

static void OnRecord(void *user, const Np_Header *header, const uint8_t *payload, int size)
{
    Firmware *fw = (Firmware *)user;
    Np_Request request;
    if (header->cmd == NP_CMD_REQUEST_ && Np_Request_Decode(payload, size, &request) == NP_SUCC_ &&
        request.cmdRequest == NP_CMD_RPY_)
        fw->rpyRequested = 1;
}

static void SendAttitude(Firmware *fw)
{
    Np_RPY rpy;
    memset(&rpy, 0, sizeof(rpy));
    rpy.timeStamp = fw->microseconds;
    rpy.roll = 1.5f;
    rpy.pitch = -0.25f;
    rpy.yaw = 271.0f;
    NimboProfile_Send_Np_RPY(&fw->link, NP_ID_HOST_, &rpy);
}

int main(void)
{
    static Firmware fw;
    uint8_t rx[16];
    int loop;

    memset(&fw, 0, sizeof(fw));
    NimboProfile_Init(&fw.link, NODE_ID, WriteFrame, OnRecord, &fw);

    for (loop = 0; loop < 10; ++loop) {
        const int n = Uart_Read(rx, (int)sizeof(rx));
        if (n > 0)
            NimboProfile_Receive(&fw.link, rx, n);
        if (fw.rpyRequested) {
            fw.rpyRequested = 0;
            SendAttitude(&fw);
        }
        fw.microseconds += 10000u;
    }
    printf("frames received: %lu good, %lu bad\n", (unsigned long)fw.link.protocol.sRecvPkg_Good,
           (unsigned long)fw.link.protocol.sRecvPkg_Bad);
    return 0;
}
