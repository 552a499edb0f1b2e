/*
 * The light box's firmware in a simulated ATmega328P (simavr): bytes go into
 * its UART as a host's line would bring them, and the eight lamp pins are read
 * back after each.
 *
 *   lightbox_sim FIRMWARE.elf            the firmware's own checks: it starts
 *                                        dark; every byte value, and a known
 *                                        stream, on the pins; dark after 2 s
 *                                        of silence, not before
 *   lightbox_sim FIRMWARE.elf STREAM     feeds the file's bytes (a host's
 *                                        stream) and checks the pins after each;
 *                                        prints "bytes N matched N lit L"
 *
 * Exit status 0 when every check held, 1 otherwise, 2 on bad use.
 */
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define FREQUENCY 16000000u
/* simavr hands a byte to the UART's receiver some 380 cycles after it is
 * raised (about 2.4 byte times at 1 Mbaud); each byte is given this long, so
 * that none waits in the receiver's queue behind another. */
#define BYTE_CYCLES 500u
#define SETTLE_CYCLES 800u /* how soon after a byte is raised its pins must show */
#define PORTB_ADDR 0x25u
#define DDRB_ADDR 0x24u
#define PORTD_ADDR 0x2Bu
#define DDRD_ADDR 0x2Au

static avr_t* avr;
static avr_irq_t* rx;
static int failures;

static void run_cycles(avr_cycle_count_t cycles) {
  const avr_cycle_count_t end = avr->cycle + cycles;
  while (avr->cycle < end) {
    const int state = avr_run(avr);
    if (state == cpu_Done || state == cpu_Crashed) {
      fprintf(stderr, "lightbox_sim: the simulated chip stopped\n");
      exit(1);
    }
  }
}

/* What the eight lamp pins show: D2..D7 and D8, D9 as driven outputs. */
static uint8_t pins(void) {
  const uint8_t d = avr->data[PORTD_ADDR] & avr->data[DDRD_ADDR];
  const uint8_t b = avr->data[PORTB_ADDR] & avr->data[DDRB_ADDR];
  return (uint8_t)((d >> 2) | ((b & 0x03u) << 6));
}

static int outputs_set(void) {
  return (avr->data[DDRD_ADDR] & 0xFCu) == 0xFCu && (avr->data[DDRB_ADDR] & 0x03u) == 0x03u;
}

static int slow; /* bytes whose pins came later than SETTLE_CYCLES */

/* Hands a byte to the UART and runs the chip until its pins show it (or
 * SETTLE_CYCLES have passed), and at least BYTE_CYCLES. */
static void send(uint8_t byte) {
  const avr_cycle_count_t start = avr->cycle;
  avr_raise_irq(rx, byte);
  while (pins() != byte && avr->cycle - start < SETTLE_CYCLES) run_cycles(8);
  if (pins() != byte) ++slow;
  if (avr->cycle - start < BYTE_CYCLES) run_cycles(BYTE_CYCLES - (avr->cycle - start));
}

/* The simulator's own real-time waits are not wanted: it runs as fast as it
 * can. */
static void no_sleep(avr_t* chip, avr_cycle_count_t how_long) {
  (void)chip;
  (void)how_long;
}

static void check(const char* name, int ok) {
  printf("%s: %s\n", ok ? "ok" : "FAIL", name);
  if (!ok) ++failures;
}

static void own_checks(void) {
  run_cycles(FREQUENCY / 1000u); /* 1 ms to start */
  check("eight outputs", outputs_set());
  check("starts dark", pins() == 0);

  int all = 1;
  for (unsigned v = 0; v < 256; ++v) {
    send((uint8_t)v);
    if (pins() != v) {
      printf("  byte %u shows %u\n", v, pins());
      all = 0;
    }
  }
  check("each byte value on the pins, bit i on D(i+2)", all);

  /* A host's modulation: 255 lit, 0 dark, in runs. */
  static const uint8_t known[] = {255, 255, 0, 0, 0, 3, 3, 0, 128, 1, 64, 2, 255, 0};
  all = 1;
  for (unsigned i = 0; i < sizeof known; ++i) {
    send(known[i]);
    if (pins() != known[i]) all = 0;
  }
  check("a known stream, byte after byte", all);

  send(0xA5);
  run_cycles(FREQUENCY / 10u * 19u); /* 1.9 s of silence */
  check("lit still after 1.9 s of silence", pins() == 0xA5);
  run_cycles(FREQUENCY / 5u); /* 2.1 s */
  check("dark after 2 s of silence", pins() == 0);
  send(0x81);
  check("a byte after the silence lights again", pins() == 0x81);
  check("every byte on the pins within 50 us of its handing over", slow == 0);
}

static void feed(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    perror(path);
    exit(2);
  }
  run_cycles(FREQUENCY / 1000u);
  long bytes = 0, matched = 0, lit = 0;
  int c;
  while ((c = fgetc(f)) != EOF) {
    send((uint8_t)c);
    ++bytes;
    if (pins() == c) ++matched;
    if (pins() != 0) ++lit;
  }
  fclose(f);
  printf("bytes %ld matched %ld lit %ld\n", bytes, matched, lit);
  if (matched != bytes) ++failures;
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: lightbox_sim FIRMWARE.elf [STREAM]\n");
    return 2;
  }
  static elf_firmware_t firmware;
  if (elf_read_firmware(argv[1], &firmware) != 0) {
    fprintf(stderr, "lightbox_sim: cannot read %s\n", argv[1]);
    return 2;
  }
  avr = avr_make_mcu_by_name("atmega328p");
  if (!avr) {
    fprintf(stderr, "lightbox_sim: simavr has no atmega328p\n");
    return 2;
  }
  avr_init(avr);
  firmware.frequency = FREQUENCY;
  avr_load_firmware(avr, &firmware);
  avr->log = 0;
  avr->sleep = no_sleep;
  uint32_t flags = 0;
  avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  rx = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  if (argc == 3) {
    feed(argv[2]);
  } else {
    own_checks();
  }
  return failures ? 1 : 0;
}
