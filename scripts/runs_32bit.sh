#!/usr/bin/env bash
# Succeeds when this machine's kernel runs 32-bit x86 programs: a three-line
# 32-bit program that only exits is assembled and run.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$work/exit.s"
as --32 "$work/exit.s" -o "$work/exit.o" 2>/dev/null &&
  ld -m elf_i386 "$work/exit.o" -o "$work/exit" 2>/dev/null &&
  "$work/exit" 2>/dev/null
