/* Works the simulated network through the SDK: at start-up it opens a
 * connection, sends on it and makes an HTTP request; every callback and every
 * tick event is logged as words at a fixed RAM address for the test to read:
 *   word 0       number of entries
 *   then per entry  ticks seen so far, kind, data, length, status, byte at data
 * The results of the start-up calls follow the entries. On the fourth tick
 * event the connection is closed and another send made, which
 * must stay unanswered. */
#include <tarvel/tarvel.h>

#define NET_LOG ((volatile uint32_t *)0x05300000u)
#define NET_LOG_ENTRIES 40u

static uint32_t ticks;
static uint32_t connection;

static void note(uint32_t kind, uint32_t data, uint32_t length, uint32_t status) {
    uint32_t n = NET_LOG[0];
    if (n >= NET_LOG_ENTRIES) return;
    volatile uint32_t *entry = NET_LOG + 1 + n * 6;
    entry[0] = ticks;
    entry[1] = kind;
    entry[2] = data;
    entry[3] = length;
    entry[4] = status;
    entry[5] = (kind == TV_NET_DATA && data) ? *(volatile uint8_t *)data : 0;
    NET_LOG[0] = n + 1;
}

static void on_net(uint32_t data, uint32_t length, uint32_t status, uint32_t kind) {
    note(kind, data, length, status);
}

static void logic(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)argument;
    if (event != TV_EVENT_TICK) return;
    ++ticks;
    if (ticks == 4) {
        tv_net_close(connection);
        tv_net_send(connection, "late", 4);
    }
}

static void render(void *self, uint32_t event, uint32_t argument) { (void)self, (void)event, (void)argument; }

static tv_screen_object screen = TV_SCREEN_OBJECT_INIT(0, logic, render, 0, 0);

void tv_app_main(void) {
    uint32_t sent = 0, received = 0;
    NET_LOG[0] = 0;
    NET_LOG[NET_LOG_ENTRIES * 6 + 1] = (uint32_t)tv_net_open(on_net, &connection);
    NET_LOG[NET_LOG_ENTRIES * 6 + 2] = connection;
    NET_LOG[NET_LOG_ENTRIES * 6 + 3] = tv_net_send(connection, "hello", 5);
    NET_LOG[NET_LOG_ENTRIES * 6 + 4] = (uint32_t)tv_net_http("http://tarvel.test/", on_net, 77);
    NET_LOG[NET_LOG_ENTRIES * 6 + 5] = tv_net_counters(&sent, &received);
    NET_LOG[NET_LOG_ENTRIES * 6 + 6] = sent;
    NET_LOG[NET_LOG_ENTRIES * 6 + 7] = (uint32_t)tv_net_available();
    tv_screen_push(&screen.screen);
}
