#!/usr/bin/env bash
# Builds the exported Arduino library and its example sketch for an Arduino Uno (ATmega328P, 16 MHz)
# with Debian's Arduino AVR core, the way the Arduino IDE would, but with make-free commands:
#
#   build-arduino.sh ARCHIVE OUTDIR      -> OUTDIR/NimboNodeExample.elf and its flash and RAM use
#
# The library and the sketch must compile without a single warning; the core's own are not ours.
set -euo pipefail
archive=$1
out=$2
core=/usr/share/arduino/hardware/arduino/avr
top=Kinetra_Example_CPP_Arduino_V1-1-2

rm -rf "$out"
mkdir -p "$out/src" "$out/obj/core"
unzip -q "$archive" -d "$out/src"
lib="$out/src/$top/libraries/NimboProfile"
sketch="$out/src/$top/NimboNodeExample/NimboNodeExample.ino"
[[ -d "$lib" && -f "$sketch" ]] || { echo "archive lacks the library or the sketch" >&2; exit 1; }

mcu=(-mmcu=atmega328p -DF_CPU=16000000L -DARDUINO=10805 -DARDUINO_AVR_UNO -DARDUINO_ARCH_AVR)
common=("${mcu[@]}" -Os -g -ffunction-sections -fdata-sections -flto -I"$core/cores/arduino" -I"$core/variants/standard")
cxx=(avr-g++ "${common[@]}" -std=gnu++11 -fpermissive -fno-exceptions -fno-threadsafe-statics)
cc=(avr-gcc "${common[@]}" -std=gnu11)
strict=(-Wall -Wextra -Wpedantic -Wshadow -Werror)

for f in "$core"/cores/arduino/*.c; do "${cc[@]}" -w -c "$f" -o "$out/obj/core/$(basename "$f").o"; done
# Debian's core expects the float.h of a newer compiler, which gives C++11 DECIMAL_DIG too.
for f in "$core"/cores/arduino/*.cpp; do
    "${cxx[@]}" -w -DDECIMAL_DIG=__DECIMAL_DIG__ -c "$f" -o "$out/obj/core/$(basename "$f").o"
done
for f in "$core"/cores/arduino/*.S; do
    avr-gcc "${mcu[@]}" -x assembler-with-cpp -flto -c "$f" -o "$out/obj/core/$(basename "$f").o"
done
avr-gcc-ar rcs "$out/obj/core.a" "$out"/obj/core/*.o

# What the IDE does with a sketch: the core's header first, then the sketch as C++.
printf '#include <Arduino.h>\n#line 1 "NimboNodeExample.ino"\n' | cat - "$sketch" >"$out/obj/NimboNodeExample.cpp"
objects=()
for f in "$lib"/*.cpp "$out/obj/NimboNodeExample.cpp"; do
    "${cxx[@]}" "${strict[@]}" -I"$lib" -c "$f" -o "$out/obj/$(basename "$f").o"
    objects+=("$out/obj/$(basename "$f").o")
done
avr-gcc "${mcu[@]}" -Os -flto -fuse-linker-plugin -Wl,--gc-sections -o "$out/NimboNodeExample.elf" \
    "${objects[@]}" "$out/obj/core.a" -lm

# Flash holds the code and the initial data; RAM the data and the zeroed variables.
read -r text data bss < <(avr-size -B "$out/NimboNodeExample.elf" | awk 'NR == 2 {print $1, $2, $3}')
echo "arduino uno: flash $((text + data)) of 32256 bytes, RAM $((data + bss)) of 2048 bytes (before the stack)"
