#!/usr/bin/env bash
# Settings files the program did not write, and folders it cannot use: other sections and keys
# around its own (and its keys in sections with similar names), a file of several megabytes,
# a read-only file, and a program folder whose path does not fit the 260-character limit. Each
# run shows the picture, ends through Quit with exit code 0 and reads at most 256 bytes at once;
# whatever is not the program's own survives its save byte for byte.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/hostile_lib.sh
source "$(dirname "$0")/hostile_lib.sh"
# A read-only file left behind by an earlier run would stop e2e_init from clearing the folder.
scratch="$1/e2e-scratch/hostile_files"
[ ! -d "$scratch" ] || { [ "$(id -u)" != 0 ] || chattr -R -i "$scratch" 2>/dev/null; chmod -R u+w "$scratch"; }
e2e_init "$1"
hostile_key_frame
ini="$E2E_DIR/KESTRAVU.ini"
start_looped() { e2e_start KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1; }

# Compares the file without the program's keys in its section to what it was before the run.
check_others_kept() {
  e2e_check "$1: everything but the program's keys kept byte for byte" \
    cmp -s <(hostile_without_ours "$ini.before") <(hostile_without_ours "$ini")
}

# Other sections and keys, CR LF line ends, comments, a line without "=", the program's key names
# in sections of similar names, and a key of its own section that the program does not know.
# The profile functions of this platform rewrite "a = b" as "a=b" and drop blank lines, so the
# lines are given in the form they keep.
e2e_write_ini '; kept by hand\r\n[before]\r\nalpha=1\r\nbufsize=200\r\nnote=text with = and ; in it\r\n[sections]\r\nbufsize=300\r\nwide=1\r\n[SECTION]\r\nscr4=1\r\nextra=kept\r\nbufsize=64\r\n[section2]\r\nbufsize=128\r\n; last\r\n[after]\r\nflag\r\nbeta=\r\n'
cp "$ini" "$ini.before"
start_looped
hostile_check_run "other sections" 0 1 64
check_others_kept "other sections"
hostile_saved "other sections" "0 1 64"

# About 4 MB: 16,000 sections of other keys, one value of 1 MB, the program's section between.
awk 'BEGIN {
  for (i = 0; i < 8000; i++) printf "[s%05d]\r\nk1=%0200d\r\nk2=value %d\r\nbufsize=999\r\n", i, i, i
  printf "[section]\r\nbufsize=100\r\nwide=1\r\n"
  for (i = 8000; i < 16000; i++) printf "[s%05d]\r\nk1=%0200d\r\nk2=value %d\r\nbufsize=999\r\n", i, i, i
  printf "[long]\r\nvalue="; for (i = 0; i < 16384; i++) printf "%064d", i; printf "\r\n"
}' >"$ini"
cp "$ini" "$ini.before"
e2e_log "settings file of $(stat -c %s "$ini") bytes"
start_looped
hostile_check_run "several megabytes" 1 0 100
check_others_kept "several megabytes"
hostile_saved "several megabytes" "1 0 100"

# Read-only: the settings are read, Wide is switched, and the save fails without a word.
e2e_write_ini '[section]\r\nscr4=1\r\nbufsize=64\r\n[other]\r\nkey=value\r\n'
cp "$ini" "$ini.before"
if hostile_make_read_only "$ini"; then
  start_looped
  if e2e_wait_window 20; then
    e2e_check "read-only: the picture from the file's settings" \
      e2e_wait_picture "$HOSTILE_FRAMES/normal-screen4.png" 5 || e2e_log "differing pixels: $E2E_DIFFERENCE"
    e2e_menu 1 0  # Mode > Wide
    e2e_check "read-only: Wide switched on" hostile_wait_width 852
    e2e_menu 0 0
    hostile_check_quiet_end "read-only"
    hostile_check_read_size "read-only" 64
  else
    e2e_fail "read-only: no main window"
  fi
  hostile_make_writable "$ini"
  e2e_check "read-only: the file unchanged" cmp -s "$ini.before" "$ini"
  e2e_equal "read-only: no other file written beside it" "KESTRAVU.ini KESTRAVU.ini.before" \
    "$(cd "$E2E_DIR" && find . -maxdepth 1 -iname '*.ini*' -printf '%f\n' | sort | paste -sd' ')"
fi
rm -f "$ini" "$ini.before"

# The program file's full path, as this platform reports it: drive Z: and the Unix path.
# Places the program in a folder whose program path is $1 characters long: the folder's parent
# takes the first 200 of them, so that a path cut off at 259 still names a folder that exists.
place_program() {
  local base="$E2E_DIR/deep" parent
  [ $((2 + ${#base})) -lt 190 ] || e2e_abort "the scratch folder's path is too long for this case"
  parent=$(head -c $((200 - 2 - ${#base} - 1)) /dev/zero | tr '\0' a)
  rm -rf "$base"
  PROGRAM_DIR="$base/$parent/$(head -c $(($1 - 200 - 2 - ${#HOSTILE_EXE_NAME})) /dev/zero | tr '\0' b)"
  mkdir -p "$PROGRAM_DIR"
  cp "$E2E_EXE" "$PROGRAM_DIR/$HOSTILE_EXE_NAME"
  cp "$E2E_DLL" "$PROGRAM_DIR/"
  printf '[section]\r\nwide=1\r\nbufsize=64\r\n' >"$PROGRAM_DIR/KESTRAVU.ini"
  cp "$PROGRAM_DIR/KESTRAVU.ini" "$E2E_DIR/deep.ini.before"
}
HOSTILE_EXE_NAME=KESTRAVU.exe

# 259 characters still fit with the terminator: the file beside the program is read and saved.
place_program 259
e2e_log "program path of $((2 + ${#PROGRAM_DIR} + 1 + ${#HOSTILE_EXE_NAME})) characters"
hostile_start_at "$PROGRAM_DIR/$HOSTILE_EXE_NAME" KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1
hostile_check_run "path of 259 characters" 1 0 64
e2e_equal "path of 259 characters: settings saved beside the program" "wide=1 scr4=0 bufsize=64" \
  "wide=$(hostile_section_value wide "$PROGRAM_DIR/KESTRAVU.ini") scr4=$(hostile_section_value scr4 "$PROGRAM_DIR/KESTRAVU.ini") bufsize=$(hostile_section_value bufsize "$PROGRAM_DIR/KESTRAVU.ini")"

# From 260 on the reported path is cut off: defaults, and nothing is saved anywhere (a path cut
# at 259 would name a settings file in the folder above the program's).
for length in 260 330; do
  place_program "$length"
  label="path of $length characters"
  hostile_start_at "$PROGRAM_DIR/$HOSTILE_EXE_NAME" KESTRAVU_SIM_STREAM="$(e2e_win_path "$HOSTILE_STREAM")" KESTRAVU_SIM_LOOP=1
  hostile_check_run "$label" 0 0 32
  e2e_check "$label: the settings file beside the program unchanged" \
    cmp -s "$E2E_DIR/deep.ini.before" "$PROGRAM_DIR/KESTRAVU.ini"
  e2e_equal "$label: no settings file written anywhere else" "${PROGRAM_DIR#"$E2E_DIR"/}/KESTRAVU.ini" \
    "$(find "$E2E_DIR" -iname 'kestravu.ini' -printf '%P\n')"
done
e2e_finish
