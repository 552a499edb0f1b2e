/*
 * Velmora's light box: an ATmega328P board (Arduino Uno, Nano) at 16 MHz that
 * stands in for a parallel port's eight data lines.
 *
 * The protocol: the host sends bytes at 1,000,000 baud, eight data bits, no
 * parity, one stop bit. Each byte is the data register: bit i lights the lamp
 * on Arduino pin D(i+2) (bits 0..5 on PD2..PD7, bits 6 and 7 on PB0 and
 * PB1), from the moment the byte has arrived until the next one. There is
 * nothing else: no framing, no answer. The box starts dark and goes dark
 * again when the line has been silent for 2 s, so a host that died leaves no
 * lamp lit.
 *
 * The UART runs at double speed with UBRR 1: 16 MHz / (8 * 2) = 1 Mbaud,
 * exactly. The loop polls the receiver (a byte every 160 cycles at full
 * rate) and timer 1, which counts the silence at 15,625 Hz and is cleared by
 * every byte.
 */
#include <avr/io.h>
#include <stdint.h>

#define SILENCE_TICKS 31250u /* 2 s at 16 MHz / 1024 */

static void show(uint8_t lines) {
  PORTD = (uint8_t)((PORTD & 0x03u) | (uint8_t)(lines << 2));
  PORTB = (uint8_t)((PORTB & 0xFCu) | (lines >> 6));
}

int main(void) {
  show(0);
  DDRD |= 0xFCu; /* PD2..PD7 out; PD0, PD1 stay the UART's */
  DDRB |= 0x03u; /* PB0, PB1 out */

  UBRR0H = 0;
  UBRR0L = 1;
  UCSR0A = (uint8_t)(1u << U2X0);
  UCSR0C = (uint8_t)((1u << UCSZ01) | (1u << UCSZ00)); /* 8N1 */
  UCSR0B = (uint8_t)(1u << RXEN0);

  /* Timer 1, clear on compare match A, clock / 1024. */
  OCR1A = SILENCE_TICKS - 1u;
  TCCR1A = 0;
  TCCR1B = (uint8_t)((1u << WGM12) | (1u << CS12) | (1u << CS10));
  TCNT1 = 0;
  TIFR1 = (uint8_t)(1u << OCF1A);

  for (;;) {
    if (UCSR0A & (1u << RXC0)) {
      const uint8_t lines = UDR0;
      TCNT1 = 0;
      TIFR1 = (uint8_t)(1u << OCF1A);
      show(lines);
    } else if (TIFR1 & (1u << OCF1A)) {
      TIFR1 = (uint8_t)(1u << OCF1A);
      show(0);
    }
  }
}
