#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures Snapsift on synthetic picture trees and prints a markdown table:
# report mode against find with a cold cache (run as root: the page cache is
# dropped before each run of either) and a warm one, the duplicate and
# auto-select reports against the plain report, the window's own handlers
# (search and fill, automatic selection, deletion to a private trash, and the
# deletion of 2,000 files of one name) and peak memory against the size of
# the table's texts; the content check of automatic selection (1 GiB of
# copies, warm and cold against cat, 200,000 rows with nothing to compare,
# and 100 against 400 copies whose ends are alike under ulimit -n 256); then the picture previews: the first tooltip of a 24-megapixel
# JPEG with a cold thumbnail cache against the same decode in the window's
# own process, the tooltip after a restart from the thumbnail cache, the
# longest stretch without repainting while previews decode, and the window's
# own peak memory meanwhile. Where installed, fd (with a stat of every match)
# and bfs run beside find, cold and warm; under Xvfb, the times from Esc to
# the stopped search, from 終了 mid-search to the process's end, and from the
# idle window's close box to the process's end, on the 200k tree. Last, the
# 50k tree on a share that answers slowly (bench/slow_share, FUSE; needs
# root): find, fd -j32 and the report in each way of asking the disk.
#
#   bash bench/run.sh            the table for 50,000 and 200,000 files
#   bash bench/run.sh --alive    one window run on 1,000,000 files under Xvfb,
#                                with two screenshots of the advancing bar
#   bash bench/run.sh --margins  only the rows of 100 and 400 copies with equal
#                                ends under ulimit -n 256
#   bash bench/run.sh --share [FILES]  only the share rows, on the 50k tree or
#                                on a tree of FILES files (FILES/10 folders)
#
# SNAPSIFT_BENCH_DIR   where the trees go (default /tmp/snapsift-bench); kept
#                      between runs and regenerated only when their recipe changes
# SNAPSIFT_BENCH_RUNS  timed runs per command, the median is shown (default 5)
# SNAPSIFT_BENCH_SHARE_DELAY_MS  how long the share waits before each answer (default 1)
# SNAPSIFT_BENCH_SHARE_RUNS      timed runs on the share (default 3 at most; find takes minutes there)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
root=${SNAPSIFT_BENCH_DIR:-/tmp/snapsift-bench}
runs=${SNAPSIFT_BENCH_RUNS:-5}
mode=${1:-table}
build=$source_dir/build-bench
bin=$build/bin
export TZ=Asia/Tokyo LC_ALL=C.UTF-8
load=$(cut -d' ' -f1-3 /proc/loadavg)  # before this script's own build

# What the build and the measurements need.
bash tools/setup-debian.sh
extra=(time)
[ "$mode" = --alive ] && extra+=(imagemagick)
missing=()
for p in "${extra[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSNAPSIFT_BUILD_TESTS=OFF \
  -DSNAPSIFT_BUILD_BENCH=ON >/dev/null
if [ "$mode" = --share ]; then
  cmake --build "$build" -j 2 --target snapsift make_tree slow_share uring_walk >/dev/null
else
  cmake --build "$build" -j 2 >/dev/null
fi

# make_tree_once NAME FILES FOLDERS: the tree $root/NAME/tree, made anew when
# its recipe changed or files are missing.
make_tree_once() {
  local name=$1 files=$2 folders=$3
  local dir=$root/$name
  local args=(--files "$files" --folders "$folders" --depth 6 --dup-rate 0.2 --same-size-rate 0.5
              --other-rate 0.25 --hardlink-rate 0.05 --seed 1)
  local recipe
  recipe="${args[*]} $(md5sum < bench/make_tree.cpp)"
  if [ -f "$dir/recipe" ] && [ "$(cat "$dir/recipe")" = "$recipe" ] &&
     [ "$(find "$dir/tree" -type f | wc -l)" -eq "$files" ]; then
    return
  fi
  echo "generating $files files in $folders folders under $dir" >&2
  rm -rf "$dir"
  mkdir -p "$dir"
  "$bin/make_tree" --out "$dir/tree" "${args[@]}" >&2
  echo "$recipe" > "$dir/recipe"
}

types=(--jpeg --bmp --gif --other png)
run_find() {
  find "$1" -type f \( -iname '*.jpg' -o -iname '*.bmp' -o -iname '*.gif' -o -iname '*.png' \) \
    -printf '%f\t%s\t%T@\t%p\n'
}
# The fastest walkers users know, doing what the report does: fd with a stat
# of every match (--changed-before), at its own thread count and at 32; bfs
# with find's predicates and output.
have_fd=0; command -v fdfind > /dev/null && have_fd=1
have_bfs=0; command -v bfs > /dev/null && have_bfs=1
fd_args=(--changed-before 2100-01-01 --type f --hidden --no-ignore --extension jpg --extension bmp --extension gif
         --extension png)
run_fd()   { fdfind "${fd_args[@]}" . "$1"; }
run_fd32() { fdfind -j32 "${fd_args[@]}" . "$1"; }
run_bfs() {
  bfs "$1" -type f \( -iname '*.jpg' -o -iname '*.bmp' -o -iname '*.gif' -o -iname '*.png' \) \
    -printf '%f\t%s\t%T@\t%p\n'
}
# The plainest walk through io_uring (bench/uring_walk): one thread, every
# open and stat in flight at once, no rows kept; a yardstick for the report.
run_uring() { "$bin/uring_walk" "$1" jpg bmp gif png; }
walkers=()
[ "$have_fd" -eq 1 ] && walkers+=(fd fd32)
[ "$have_bfs" -eq 1 ] && walkers+=(bfs)
[ -x "$bin/uring_walk" ] && walkers+=(uring)
run_report()     { "$bin/snapsift" --report "${types[@]}" "$1"; }
run_duplicates() { "$bin/snapsift" --report --duplicates "${types[@]}" "$1"; }
# The same search with every further picture type chosen as well.
run_alltypes()   { "$bin/snapsift" --report "${types[@]}" --types png,webp,heic,avif,tiff,jxl,raw,jpeg "$1"; }
run_autoselect() { "$bin/snapsift" --report --auto-select "${types[@]}" "$1"; }
run_window() {
  QT_QPA_PLATFORM=offscreen "$bin/window_bench" --tree "$1" --work "$2" --delete 1000 --other png 2>/dev/null
}

# Seconds taken by one command, its output thrown away.
seconds_of() {
  local t0=$EPOCHREALTIME
  "$@" > /dev/null
  local t1=$EPOCHREALTIME
  echo $(( ${t1/./} - ${t0/./} )) | awk '{ printf "%.6f\n", $1 / 1e6 }'
}

# Drops the page cache, dentries and inodes, so the next command reads the disk.
drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches; }

# The disk under the trees, whose own counters show how deep its queue was
# and how long each read took during a cold run.
disk=$(basename "$(findmnt -no SOURCE -T "$(dirname "$root")" 2>/dev/null | head -1)" 2>/dev/null || true)
[ -n "$disk" ] && [ -r "/sys/class/block/$disk/stat" ] || disk=
# cold_seconds FILE COMMAND TREE: one run with a cold cache; prints its
# seconds and appends to FILE the disk's mean queue depth (time in queue ÷
# elapsed), its mean read time in ms and how busy it was (0 to 1).
cold_seconds() {
  local file=$1 before after t
  shift
  drop_caches
  [ -n "$disk" ] && before=$(cat "/sys/class/block/$disk/stat")
  t=$(seconds_of "$@")
  if [ -n "$disk" ]; then
    after=$(cat "/sys/class/block/$disk/stat")
    echo "$before $after $t" | awk '{ n = NF / 2 - 0.5; ms = $NF * 1000
      reads = $(n + 1) - $1; queue = $(n + 11) - $11; busy = $(n + 10) - $10; rms = $(n + 4) - $4
      printf "%.2f %.3f %.2f\n", queue / ms, reads ? rms / reads : 0, busy / ms }' >> "$file"
  fi
  echo "$t"
}
cold=0
[ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/drop_caches ] && cold=1

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
value_of() { sed -n "s/^$1=//p" "$2"; }

# measure NAME: writes $root/NAME/results (key=value lines).
measure() {
  local name=$1
  local tree=$root/$name/tree out=$root/$name/results work
  local -a find_s report_s alltypes_s dup_s auto_s win_s winauto_s windel_s coldfind_s coldreport_s
  local -A walker_s=() coldwalker_s=()

  # Warm the cache and check that both searches agree on what they find.
  local rows find_rows text_bytes
  run_report "$tree" > "$root/$name/report.txt"
  rows=$(wc -l < "$root/$name/report.txt")
  find_rows=$(run_find "$tree" | wc -l)
  if [ "$rows" -ne "$find_rows" ]; then
    echo "snapsift found $rows files, find $find_rows" >&2
    exit 1
  fi
  # The texts of the table: every byte of the report but the TABs and newlines.
  text_bytes=$(( $(wc -c < "$root/$name/report.txt") - 4 * rows ))
  rm -f "$root/$name/report.txt"

  local disks=$root/$name/disk
  rm -f "$disks".*
  if [ "$cold" -eq 1 ]; then
    for ((r = 0; r < runs; r++)); do
      coldfind_s+=("$(cold_seconds "$disks.find" run_find "$tree")")
      coldreport_s+=("$(cold_seconds "$disks.report" run_report "$tree")")
      for w in "${walkers[@]}"; do
        coldwalker_s[$w]+="$(cold_seconds "$disks.$w" "run_$w" "$tree") "
      done
    done
    run_report "$tree" > /dev/null  # warm again
  fi
  for ((r = 0; r < runs; r++)); do
    find_s+=("$(seconds_of run_find "$tree")")
    report_s+=("$(seconds_of run_report "$tree")")
    alltypes_s+=("$(seconds_of run_alltypes "$tree")")
    dup_s+=("$(seconds_of run_duplicates "$tree")")
    auto_s+=("$(seconds_of run_autoselect "$tree")")
    for w in "${walkers[@]}"; do
      walker_s[$w]+="$(seconds_of "run_$w" "$tree") "
    done
  done
  local report_kib=0 kib
  for kind in "" --duplicates --auto-select; do
    kib=$(/usr/bin/time -f %M "$bin/snapsift" --report $kind "${types[@]}" "$tree" 2>&1 > /dev/null | tail -1)
    [ "$kib" -gt "$report_kib" ] && report_kib=$kib
  done

  local window_kib=0 gap=0 selected=0 wrows=0
  # Each window run gets a trash of its own in a fresh folder. On ext4 without
  # a journal, creating a file in a block group full of inodes freed in the
  # last minutes means skipping each of them, and the trash creates two files
  # per moved file: left next to what earlier runs (or other programs) freed,
  # the deletion would measure the disk's recent history. Folders below a
  # folder marked +T are spread over the block groups.
  mkdir -p "$root/work"
  chattr +T "$root/work" 2>/dev/null || true
  for ((r = 0; r < runs; r++)); do
    work=$root/work/$name-$r-$$-$RANDOM
    run_window "$tree" "$work" > "$work.out" || { echo "window_bench failed on $tree" >&2; exit 1; }
    win_s+=("$(value_of search_shown_s "$work.out")")
    winauto_s+=("$(value_of autoselect_s "$work.out")")
    windel_s+=("$(value_of delete_s "$work.out")")
    kib=$(value_of vmhwm_kib "$work.out")
    [ "$kib" -gt "$window_kib" ] && window_kib=$kib
    gap=$(printf '%s\n' "$gap" "$(value_of search_longest_freeze_ms "$work.out")" | sort -g | tail -1)
    selected=$(value_of autoselected "$work.out")
    wrows=$(value_of rows "$work.out")
    if [ "$wrows" -ne "$rows" ] || [ "$(value_of text_bytes "$work.out")" -ne "$text_bytes" ]; then
      echo "the window found other rows than the report on $tree" >&2
      exit 1
    fi
  done
  rm -rf "$root/work"

  {
    echo "rows=$rows"
    echo "text_bytes=$text_bytes"
    if [ "$cold" -eq 1 ]; then
      echo "cold_find=$(median "${coldfind_s[@]}")"
      echo "cold_report=$(median "${coldreport_s[@]}")"
      for f in "$disks".*; do
        [ -f "$f" ] || continue
        # shellcheck disable=SC2046
        echo "disk_${f##*.}=$(median $(cut -d' ' -f1 "$f")) $(median $(cut -d' ' -f2 "$f")) $(median $(cut -d' ' -f3 "$f"))"
      done
    fi
    for w in "${walkers[@]}"; do
      # shellcheck disable=SC2086
      [ "$cold" -eq 1 ] && echo "cold_$w=$(median ${coldwalker_s[$w]})"
      # shellcheck disable=SC2086
      echo "$w=$(median ${walker_s[$w]})"
    done
    echo "find=$(median "${find_s[@]}")"
    echo "report=$(median "${report_s[@]}")"
    echo "alltypes=$(median "${alltypes_s[@]}")"
    echo "duplicates=$(median "${dup_s[@]}")"
    echo "autoselect=$(median "${auto_s[@]}")"
    echo "window=$(median "${win_s[@]}")"
    echo "window_autoselect=$(median "${winauto_s[@]}")"
    echo "window_delete=$(median "${windel_s[@]}")"
    echo "window_freeze_ms=$gap"
    echo "autoselected=$selected"
    echo "report_kib=$report_kib"
    echo "window_kib=$window_kib"
  } > "$out"
}

# 2,000 and 20,000 files of one name, each in a folder of its own, all
# selected and moved to a fresh private trash by the window (and put back
# afterwards): writes $root/samename/results. Every file takes a free name in
# the one trash, so this row shows whether finding one costs more as the
# trash fills.
measure_same_name() {
  local dir=$root/samename work count
  local -a del_s auto_s ask_s
  mkdir -p "$root/work" "$dir"
  chattr +T "$root/work" 2>/dev/null || true
  : > "$dir/results"
  for count in 2000 20000; do
    if [ "$(find "$dir/tree$count" -name p.jpg 2>/dev/null | wc -l)" -ne "$count" ]; then
      rm -rf "$dir/tree$count"
      mkdir -p "$dir/tree$count"
      for ((i = 0; i < count; i++)); do
        mkdir "$dir/tree$count/d$i"
        printf 'picture %d' "$i" > "$dir/tree$count/d$i/p.jpg"
      done
    fi
    del_s=() auto_s=() ask_s=()
    for ((r = 0; r < runs; r++)); do
      work=$root/work/samename-$r-$$-$RANDOM
      QT_QPA_PLATFORM=offscreen "$bin/window_bench" --tree "$dir/tree$count" --work "$work" --delete "$count" \
        --other png > "$work.out" 2>/dev/null || { echo "window_bench failed on $dir/tree$count" >&2; exit 1; }
      del_s+=("$(value_of delete_s "$work.out")")
      auto_s+=("$(value_of autoselect_s "$work.out")")
      ask_s+=("$(value_of delete_confirm_s "$work.out")")
    done
    echo "same_name_delete_$count=$(median "${del_s[@]}")" >> "$dir/results"
    echo "same_name_autoselect_$count=$(median "${auto_s[@]}")" >> "$dir/results"
    echo "same_name_confirm_$count=$(median "${ask_s[@]}")" >> "$dir/results"
  done
  rm -rf "$root/work"
}

# The previews' rows: writes $root/previews/results.
measure_previews() {
  local dir=$root/previews out work
  local -a first inproc second
  local stall=0 kib=0 v
  mkdir -p "$dir"
  work=$dir/work
  for ((r = 0; r < runs; r++)); do
    for phase in cold warm; do
      QT_QPA_PLATFORM=offscreen "$bin/preview_bench" --work "$work" --phase $phase > "$dir/$phase.out" 2>/dev/null ||
        { echo "preview_bench --phase $phase failed" >&2; exit 1; }
    done
    if [ "$(value_of from_thumbnail "$dir/warm.out")" != 1 ] || [ "$(value_of from_thumbnail "$dir/cold.out")" != 0 ]; then
      echo "the thumbnail cache was not used as expected" >&2
      exit 1
    fi
    first+=("$(value_of tooltip_ready_s "$dir/cold.out")")
    inproc+=("$(value_of in_process_s "$dir/cold.out")")
    second+=("$(value_of tooltip_ready_s "$dir/warm.out")")
    for v in $(value_of tooltip_longest_stall_ms "$dir/cold.out") $(value_of cached_tooltip_longest_stall_ms "$dir/cold.out") \
             $(value_of compare_window_longest_stall_ms "$dir/cold.out") $(value_of tooltip_longest_stall_ms "$dir/warm.out"); do
      stall=$(printf '%s\n' "$stall" "$v" | sort -g | tail -1)
    done
    v=$(value_of window_previews_vmhwm_kib "$dir/cold.out")
    [ -n "$v" ] && [ "$v" -gt "$kib" ] && kib=$v
  done
  out=$dir/results
  {
    echo "first_tooltip=$(median "${first[@]}")"
    echo "in_process=$(median "${inproc[@]}")"
    echo "second_tooltip=$(median "${second[@]}")"
    echo "preview_stall_ms=$stall"
    echo "preview_kib=$kib"
  } > "$out"
}

print_previews() {
  awk -F= -v runs="$runs" '
    { v[$1] = $2 }
    function short(value, limit, unit) {
      return value <= limit ? "met" : sprintf("**missed** by %.2f%s (%.0f%%)", value - limit, unit, 100 * (value / limit - 1))
    }
    END {
      print "| previews, 24-megapixel JPEG, median of " runs " runs | value | target | |"
      print "|---|---:|---|---|"
      printf "| first tooltip, cold thumbnail cache (s) | %.3f | | |\n", v["first_tooltip"]
      printf "| the same decode in the window'"'"'s own process (s) | %.3f | | |\n", v["in_process"]
      printf "| first tooltip ÷ in-process decode | %.2f | ≤ 1.2 | %s |\n", v["first_tooltip"] / v["in_process"],
        short(v["first_tooltip"] / v["in_process"], 1.2, "")
      printf "| tooltip after a restart, from the thumbnail cache (ms) | %.1f | ≤ 30 ms | %s |\n", 1000 * v["second_tooltip"],
        short(1000 * v["second_tooltip"], 30, " ms")
      printf "| longest stretch without repainting while previews decode (ms) | %.1f | ≤ 50 ms | %s |\n", v["preview_stall_ms"],
        short(v["preview_stall_ms"], 50, " ms")
      printf "| window peak memory while previews show (MiB) | %.1f | ≤ 48 MiB + 48 MiB cache + text | %s |\n", v["preview_kib"] / 1024,
        short(v["preview_kib"] / 1024, 96, " MiB")
    }' "$root/previews/results"
}

# The content check of automatic selection: 1 GiB of copies (64 pairs of
# 8 MiB) checked warm and, as root, cold against cat of the same files; and
# 200,000 rows with nothing to compare: writes $root/content/results.
measure_content() {
  local dir=$root/content
  if [ "$(find "$dir/files" -name '*.bmp' 2>/dev/null | wc -l)" -ne 128 ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    "$bin/content_bench" --make "$dir/files"
  fi
  local -a warm_s cold_s cat_s
  cat "$dir"/files/*/*.bmp > /dev/null  # warm
  for ((r = 0; r < runs; r++)); do
    "$bin/content_bench" --check "$dir/files" > "$dir/check.out"
    warm_s+=("$(value_of check_s "$dir/check.out")")
  done
  local bytes
  bytes=$(value_of check_bytes "$dir/check.out")
  if [ "$cold" -eq 1 ]; then
    for ((r = 0; r < runs; r++)); do
      drop_caches
      cat_s+=("$(seconds_of cat "$dir"/files/*/*.bmp)")
      drop_caches
      "$bin/content_bench" --check "$dir/files" > "$dir/check.out"
      cold_s+=("$(value_of check_s "$dir/check.out")")
    done
  fi
  "$bin/content_bench" --rows 200000 > "$dir/rows.out"
  {
    echo "check_bytes=$bytes"
    echo "check_warm=$(median "${warm_s[@]}")"
    if [ "$cold" -eq 1 ]; then
      echo "check_cold=$(median "${cold_s[@]}")"
      echo "cat_cold=$(median "${cat_s[@]}")"
    fi
    cat "$dir/rows.out"
  } > "$dir/results"
}

# Copies of one name and 1 MiB whose first and last 64 KiB are alike and
# whose middles differ (scans with white margins), 100 and 400 of them, each
# checked under `ulimit -n 256`, warm: the check must stay linear, keep few
# files open and leave no copy unread. Writes $root/content/margins.results.
measure_margins() {
  local dir=$root/content
  mkdir -p "$dir/margins"
  local -a s100 s400
  local unread=0 n r
  for n in 100 400; do
    (ulimit -n 256 && exec "$bin/content_bench" --margins "$dir/margins" "$n") > /dev/null || unread=1  # written once
  done
  cat "$dir"/margins/*/*/scan.bmp > /dev/null
  for ((r = 0; r < runs; r++)); do
    for n in 100 400; do
      (ulimit -n 256 && exec "$bin/content_bench" --margins "$dir/margins" "$n") > "$dir/margins$n.out" || unread=1
      local t
      t=$(value_of margins_s "$dir/margins$n.out")
      if [ "$n" = 100 ]; then s100+=("$t"); else s400+=("$t"); fi
      [ "$(value_of margins_unread "$dir/margins$n.out")" = 0 ] || unread=1
    done
  done
  {
    echo "margins_100=$(median "${s100[@]}")"
    echo "margins_400=$(median "${s400[@]}")"
    echo "margins_400_bytes=$(value_of margins_bytes "$dir/margins400.out")"
    echo "margins_unread=$unread"
  } > "$dir/margins.results"
}

print_margins_rows() {
  awk -F= '
    { v[$1] = $2 }
    function row(label, value, target, verdict) { printf "| %s | %s | %s | %s |\n", label, value, target, verdict }
    END {
      row("100 copies of 1 MiB, equal ends, ulimit -n 256 (s)", sprintf("%.3f", v["margins_100"]), "", "")
      row("400 such copies (s)", sprintf("%.3f", v["margins_400"]), "", "")
      row("… bytes read ÷ bytes of the copies", sprintf("%.2f", v["margins_400_bytes"] / (400 * 1048576)), "", "")
      r = v["margins_400"] / v["margins_100"]
      ok = r <= 4.5 && v["margins_unread"] == 0
      row("400 ÷ 100, no copy left unread", sprintf("%.2f%s", r, v["margins_unread"] == 0 ? "" : ", copies left unread"),
          "≤ 4.5", ok ? "met" : "**missed**")
    }' "$root/content/margins.results"
}

print_content_table() {
  awk -F= '
    { v[$1] = $2 }
    function row(label, value, target, verdict) { printf "| %s | %s | %s | %s |\n", label, value, target, verdict }
    END {
      print ""
      print "| content check (median) | value | target | |"
      print "|---|---:|---|---|"
      gib = v["check_bytes"] / 1073741824
      row("bytes compared (GiB)", sprintf("%.2f", gib), "", "")
      row("warm cache (GiB/s)", sprintf("%.2f", gib / v["check_warm"]), "≥ 1.5", gib / v["check_warm"] >= 1.5 ? "met" : "**missed**")
      if ("check_cold" in v) {
        row("cold cache: check (s)", sprintf("%.3f", v["check_cold"]), "", "")
        row("cold cache: cat of the same files (s)", sprintf("%.3f", v["cat_cold"]), "", "")
        r = v["check_cold"] / v["cat_cold"]
        row("cold cache: check ÷ cat", sprintf("%.2f", r), "≤ 1.2", r <= 1.2 ? "met" : "**missed**")
      } else {
        row("cold cache (needs root to drop the page cache)", "skipped", "", "")
      }
      row("200k rows, nothing to compare, by name and size (s)", sprintf("%.4f", v["rows_by_name_s"]), "", "")
      r = v["rows_checked_s"] / v["rows_by_name_s"]
      row("… with the check (s)", sprintf("%.4f", v["rows_checked_s"]), "no slower", r <= 1.1 ? "met" : "**missed**")
    }' "$root/content/results"
  print_margins_rows
}

# How a search and the window end, on a real window under Xvfb with real X
# input (xdotool): Esc 300 ms
# into the search until the stopped search's message shows; 終了 300 ms into
# the search until the process has ended; the idle window's close box after
# a whole search until the process has ended. Appends to $root/NAME/results.
measure_ends() {
  local name=$1 tree=$root/$1/tree work kind
  command -v xvfb-run > /dev/null || { echo "no xvfb-run: the end times are skipped" >&2; return; }
  local -a escape_ms=() quit_ms=() close_ms=()
  mkdir -p "$root/work"
  for ((r = 0; r < runs; r++)); do
    for kind in escape quit close-idle; do
      work=$root/work/$name-end-$kind-$r-$$-$RANDOM
      # Esc and 終了 come from xdotool through the X server, to a window
      # that openbox manages, as a person's would.
      xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
        if command -v openbox > /dev/null; then openbox > /dev/null 2>&1 & sleep 0.5; fi
        "$1" --tree "$2" --work "$3" --end "$4" > "$3.out" 2>/dev/null
        echo "ended_at=$EPOCHREALTIME" >> "$3.out"' _ "$bin/window_bench" "$tree" "$work" "$kind"
      local a b
      case $kind in
        escape) a=$(value_of escape_to_stopped_ms "$work.out"); if [ -n "$a" ]; then escape_ms+=("$a"); fi ;;
        quit|close-idle)
          a=$(value_of "${kind%-idle}_pressed_at" "$work.out"); b=$(value_of ended_at "$work.out")
          if [ -n "$a" ]; then
            b=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.1f", (b - a) * 1000 }')
            if [ "$kind" = quit ]; then quit_ms+=("$b"); else close_ms+=("$b"); fi
          fi ;;
      esac
      if [ -z "$a" ]; then
        echo "window_bench --end $kind failed on $tree (a search shorter than 100 ms?)" >&2
      fi
    done
  done
  rm -rf "$root/work"
  {
    if [ ${#escape_ms[@]} -gt 0 ]; then echo "escape_ms=$(median "${escape_ms[@]}")"; fi
    if [ ${#quit_ms[@]} -gt 0 ]; then echo "quit_ms=$(median "${quit_ms[@]}")"; fi
    if [ ${#close_ms[@]} -gt 0 ]; then echo "close_ms=$(median "${close_ms[@]}")"; fi
  } >> "$root/$name/results"
}

print_table() {
  local a=$root/50k/results b=$root/200k/results c=$root/samename/results
  awk -F= -v runs="$runs" '
    FNR == 1 { file++ }
    { v[file, $1] = $2 }
    function met(ok) { return ok ? "met" : "**missed**" }
    function row(label, x, y, growth, target, verdict) {
      printf "| %s | %s | %s | %s | %s | %s |\n", label, x, y, growth, target, verdict
    }
    function timed(label, key, target, ok,   g) {
      g = v[2, key] / v[1, key]
      row(label, sprintf("%.3f", v[1, key]), sprintf("%.3f", v[2, key]), sprintf("%.2f", g), target,
          ok ? short(g, 4.5, "") : met(0))
    }
    function short(value, limit, unit) {
      return value <= limit ? "met" : sprintf("**missed** by %.2f%s (%.0f%%)", value - limit, unit, 100 * (value / limit - 1))
    }
    function ratio(label, key, base, limit,   x, y) {
      x = v[1, key] / v[1, base]; y = v[2, key] / v[2, base]
      row(label, sprintf("%.2f", x), sprintf("%.2f", y), "", "≤ " limit, short(y, limit, ""))
    }
    # A ratio to another walker, shown when that walker was measured.
    function walker(label, key, base) {
      if (!((1, base) in v) || !((1, key) in v))
        return
      row(label, sprintf("%.2f", v[1, key] / v[1, base]), sprintf("%.2f", v[2, key] / v[2, base]), "", "", "")
    }
    # The other walkers against find, and Snapsift against each of them.
    function walkers(label, key) {
      walker(label "fd with a stat of each match ÷ find", key "fd", key "find")
      walker(label "fd -j32 with a stat of each match ÷ find", key "fd32", key "find")
      walker(label "bfs ÷ find", key "bfs", key "find")
      walker(label "a plain io_uring walk (bench/uring_walk) ÷ find", key "uring", key "find")
      walker(label "`--report` ÷ the plain io_uring walk", key "report", key "uring")
      walker(label "`--report` ÷ fd", key "report", key "fd")
      walker(label "`--report` ÷ fd -j32", key "report", key "fd32")
      walker(label "`--report` ÷ bfs", key "report", key "bfs")
    }
    # The disk during the cold runs of one walker: mean queue depth, mean
    # read time and how busy it was, from its own counters.
    function disks(w,   x, y) {
      if (!((1, "disk_" w) in v))
        return
      split(v[1, "disk_" w], x, " "); split(v[2, "disk_" w], y, " ")
      row("cold cache, the disk during " (w == "report" ? "`--report`" : w == "uring" ? "the plain io_uring walk" : w == "fd32" ? "fd -j32" : w) \
          ": queue depth / ms per read / busy", x[1] " / " x[2] " / " x[3], y[1] " / " y[2] " / " y[3], "", "", "")
    }
    function ended(label, key, limit) {
      if (!((2, key) in v))
        return
      row(label, "", v[2, key], "", "≤ " limit " ms", short(v[2, key], limit, " ms"))
    }
    function memory(label, key,   x, y, lx, ly) {
      x = v[1, key] / 1024; y = v[2, key] / 1024
      lx = v[1, "text_bytes"] / 1048576 + 48; ly = v[2, "text_bytes"] / 1048576 + 48
      row(label, sprintf("%.1f (limit %.1f)", x, lx), sprintf("%.1f (limit %.1f)", y, ly), "", "≤ 1 × text + 48 MiB",
          met(x <= lx && y <= ly))
    }
    END {
      print "| median of " runs " runs (warm cache unless said) | 50k files, 5k folders | 200k files, 20k folders | 200k ÷ 50k | target | |"
      print "|---|---:|---:|---:|---|---|"
      row("files found (rows)", v[1, "rows"], v[2, "rows"], "", "", "")
      if ((1, "cold_find") in v) {
        row("cold cache: find (s)", sprintf("%.3f", v[1, "cold_find"]), sprintf("%.3f", v[2, "cold_find"]),
            sprintf("%.2f", v[2, "cold_find"] / v[1, "cold_find"]), "", "")
        timed("cold cache: `--report` (s)", "cold_report", "growth ≤ 4.5", 1)
        ratio("cold cache: `--report` ÷ find", "cold_report", "cold_find", 0.45)
        walkers("cold cache: ", "cold_")
        disks("find")
        disks("report")
        disks("uring")
        disks("fd32")
      } else {
        row("cold cache (needs root to drop the page cache)", "skipped", "skipped", "", "", "")
      }
      row("find (s)", sprintf("%.3f", v[1, "find"]), sprintf("%.3f", v[2, "find"]), sprintf("%.2f", v[2, "find"] / v[1, "find"]), "", "")
      timed("`--report` (s)", "report", "growth ≤ 4.5", 1)
      ratio("`--report` ÷ find", "report", "find", 0.55)
      walkers("", "")
      ratio("`--report` with every picture type chosen ÷ `--report`", "alltypes", "report", 1.1)
      timed("`--duplicates` (s)", "duplicates", "growth ≤ 4.5", 1)
      ratio("`--duplicates` ÷ `--report`", "duplicates", "report", 1.2)
      timed("`--auto-select` (s)", "autoselect", "growth ≤ 4.5", 1)
      ratio("`--auto-select` ÷ `--report`", "autoselect", "report", 1.2)
      timed("window search + fill (s)", "window", "growth ≤ 4.5", 1)
      ratio("window search + fill ÷ `--report`", "window", "report", 1.1)
      timed("window auto-select, all rows (s)", "window_autoselect", "< 0.3 s", v[2, "window_autoselect"] < 0.3)
      row("rows auto-selected", v[1, "autoselected"], v[2, "autoselected"], "", "", "")
      timed("window delete 1,000 files incl. log (s)", "window_delete", "≥ 5,000 files/s", 1000 / v[2, "window_delete"] >= 5000)
      row("… files per second", sprintf("%.0f", 1000 / v[1, "window_delete"]), sprintf("%.0f", 1000 / v[2, "window_delete"]), "", "", "")
      row("window search: longest stretch without repainting (ms)", v[1, "window_freeze_ms"], v[2, "window_freeze_ms"], "", "≤ 100 ms", short(v[2, "window_freeze_ms"], 100, " ms"))
      ended("Esc during a search to the stopped list, Xvfb (ms)", "escape_ms", 100)
      ended("終了 during a search to the process ended, Xvfb (ms)", "quit_ms", 500)
      ended("idle window: close box to the process ended, Xvfb (ms)", "close_ms", 300)
      s2 = v[3, "same_name_delete_2000"]; s20 = v[3, "same_name_delete_20000"]
      row("window delete 2,000 files of one name incl. log (s)", "", sprintf("%.3f", s2), "", "≥ 3,000 files/s",
          met(2000 / s2 >= 3000))
      row("… files per second", "", sprintf("%.0f", 2000 / s2), "", "", "")
      row("window delete 20,000 files of one name incl. log (s)", "", sprintf("%.3f", s20), "", "", "")
      row("… seconds per file, 20,000 ÷ 2,000", "", sprintf("%.2f", (s20 / 20000) / (s2 / 2000)), "", "≤ 1",
          met((s20 / 20000) <= (s2 / 2000)))
      a2 = v[3, "same_name_autoselect_2000"]; a20 = v[3, "same_name_autoselect_20000"]
      q2 = v[3, "same_name_confirm_2000"]; q20 = v[3, "same_name_confirm_20000"]
      row("20,000 files of one name: auto-select (s)", "", sprintf("%.3f", a20), "", "", "")
      row("… auto-select seconds per file, 20,000 ÷ 2,000", "", sprintf("%.2f", (a20 / 20000) / (a2 / 2000)), "",
          "≤ 1.5", met((a20 / 20000) <= 1.5 * (a2 / 2000)))
      row("20,000 files of one name: delete to its confirmation (s)", "", sprintf("%.3f", q20), "", "", "")
      row("… confirmation seconds per file, 20,000 ÷ 2,000", "", sprintf("%.2f", (q20 / 20000) / (q2 / 2000)), "",
          "≤ 1.5", met((q20 / 20000) <= 1.5 * (q2 / 2000)))
      row("table texts (MiB)", sprintf("%.1f", v[1, "text_bytes"] / 1048576), sprintf("%.1f", v[2, "text_bytes"] / 1048576), "", "", "")
      memory("peak memory, report mode (MiB)", "report_kib")
      memory("peak memory, window (MiB)", "window_kib")
    }' "$a" "$b" "$c"
}

alive() {
  make_tree_once 1m 1000000 100000
  local shots=$root/screenshots work
  mkdir -p "$root/work"
  chattr +T "$root/work" 2>/dev/null || true
  work=$root/work/1m-$$-$RANDOM
  rm -rf "$shots"
  mkdir -p "$shots"
  # A real window on a virtual display; two screenshots a few seconds apart
  # while the search runs show whether the bar moves on.
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" --tree "$2" --work "$3" --delete 1000 --other png --mark "$3.mark" > "$3.out" 2>/dev/null &
    pid=$!
    until [ -f "$3.mark" ]; do sleep 0.1; done
    sleep 1; import -window root "$4/search-1.png"
    sleep 2; import -window root "$4/search-2.png"
    wait $pid' _ "$bin/window_bench" "$root/1m/tree" "$work" "$shots"
  cat "$work.out"
  rm -rf "$root/work"
  echo "screenshots: $shots/search-1.png $shots/search-2.png"
}

# The share rows: a tree seen through bench/slow_share, a read-only FUSE view
# of it that answers every lookup, getattr, opendir and readdir after
# $SNAPSIFT_BENCH_SHARE_DELAY_MS ms, many at once, caching nothing, as a NAS
# on a LAN does: find, fd -j32 with a stat of every match, and `--report`
# left to itself and with each way of asking the disk fixed
# (SNAPSIFT_SCAN_IO). Writes $root/share/results.
share_delay=${SNAPSIFT_BENCH_SHARE_DELAY_MS:-1}
share_runs=${SNAPSIFT_BENCH_SHARE_RUNS:-$(( runs < 3 ? runs : 3 ))}
share_ways=(auto threads uring)
measure_share() {
  local name=$1 tree=$root/$1/tree dir=$root/share
  local mnt=$dir/mnt out=$dir/results
  mkdir -p "$dir"
  {
    echo "share_tree=$name"
    echo "share_delay_ms=$share_delay"
  } > "$out"
  if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/fuse ] || [ ! -x "$bin/slow_share" ]; then
    echo "share_skipped=needs root, /dev/fuse and libfuse3-dev" >> "$out"
    return
  fi
  mkdir -p "$mnt"
  fusermount3 -u "$mnt" 2>/dev/null || true
  "$bin/slow_share" --delay-ms "$share_delay" "$tree" "$mnt" 2>/dev/null &
  local daemon=$! i
  for ((i = 0; i < 100; i++)); do
    mountpoint -q "$mnt" && break
    sleep 0.1
  done
  # shellcheck disable=SC2064
  trap "fusermount3 -u '$mnt' 2>/dev/null || true" EXIT
  local rows find_rows way
  rows=$(SNAPSIFT_SCAN_IO=uring run_report "$mnt" | wc -l)
  find_rows=$(run_find "$mnt" | wc -l)
  if [ "$rows" -ne "$find_rows" ]; then
    echo "on the share snapsift found $rows files, find $find_rows" >&2
    exit 1
  fi
  local -a find_s=() fd_s=() uring_s=()
  local -A report_s=()
  for ((r = 0; r < share_runs; r++)); do
    find_s+=("$(seconds_of run_find "$mnt")")
    [ "$have_fd" -eq 1 ] && fd_s+=("$(seconds_of run_fd32 "$mnt")")
    [ -x "$bin/uring_walk" ] && uring_s+=("$(seconds_of run_uring "$mnt")")
    for way in "${share_ways[@]}"; do
      report_s[$way]+="$(SNAPSIFT_SCAN_IO=$way seconds_of run_report "$mnt") "
    done
  done
  fusermount3 -u "$mnt"
  trap - EXIT
  kill "$daemon" 2>/dev/null || true  # unmounted, it may linger a while
  wait "$daemon" || true
  {
    echo "share_rows=$rows"
    echo "share_runs=$share_runs"
    echo "share_find=$(median "${find_s[@]}")"
    [ "$have_fd" -eq 1 ] && echo "share_fd32=$(median "${fd_s[@]}")"
    [ ${#uring_s[@]} -gt 0 ] && echo "share_uring=$(median "${uring_s[@]}")"
    for way in "${share_ways[@]}"; do
      # shellcheck disable=SC2086
      echo "share_report_$way=$(median ${report_s[$way]})"
    done
  } >> "$out"
}

print_share() {
  awk -F= '
    { v[$1] = $2 }
    function short(value, limit) {
      return value <= limit ? "met" : sprintf("**missed** by %.2f (%.0f%%)", value - limit, 100 * (value / limit - 1))
    }
    function row(label, s, f, d, target, verdict) { printf "| %s | %s | %s | %s | %s | %s |\n", label, s, f, d, target, verdict }
    END {
      print ""
      print "| share answering after " v["share_delay_ms"] " ms (FUSE), " v["share_tree"] " tree, median of " v["share_runs"] " runs | s | ÷ find | ÷ fd -j32 | target | |"
      print "|---|---:|---:|---:|---|---|"
      if ("share_skipped" in v) {
        row("all rows", "skipped: " v["share_skipped"], "", "", "", "")
        exit
      }
      fd = ("share_fd32" in v)
      row("files found (rows)", v["share_rows"], "", "", "", "")
      row("find (s)", sprintf("%.3f", v["share_find"]), "1.00", fd ? sprintf("%.2f", v["share_find"] / v["share_fd32"]) : "", "", "")
      if (fd)
        row("fd -j32 with a stat of each match (s)", sprintf("%.3f", v["share_fd32"]), sprintf("%.2f", v["share_fd32"] / v["share_find"]), "1.00", "", "")
      else
        row("fd -j32 (fd-find is not installed)", "", "", "", "", "")
      if ("share_uring" in v)
        row("a plain io_uring walk, one thread, 64 in flight (bench/uring_walk) (s)", sprintf("%.3f", v["share_uring"]),
            sprintf("%.2f", v["share_uring"] / v["share_find"]), fd ? sprintf("%.2f", v["share_uring"] / v["share_fd32"]) : "", "", "")
      split("auto threads uring", ways, " ")
      for (k = 1; k <= 3; k++) {
        w = ways[k]; t = v["share_report_" w]
        label = w == "auto" ? "`--report`, as it runs by default (s)" : "`--report`, SNAPSIFT_SCAN_IO=" w " (s)"
        f = t / v["share_find"]; d = fd ? t / v["share_fd32"] : 0
        verdict = w != "auto" ? "" : (fd ? (f <= 0.1 && d <= 1.0 ? "met" : "**missed**") : short(f, 0.1))
        row(label, sprintf("%.3f", t), sprintf("%.2f", f), fd ? sprintf("%.2f", d) : "", w == "auto" ? "÷ find ≤ 0.1, ÷ fd -j32 ≤ 1.0" : "", verdict)
      }
    }' "$root/share/results"
}

mkdir -p "$root"
if [ "$mode" = --share ]; then
  share_files=${2:-50000}
  if [ "$share_files" = 50000 ]; then
    make_tree_once 50k 50000 5000
    measure_share 50k
  else
    make_tree_once "share$share_files" "$share_files" $(( share_files / 10 ))
    measure_share "share$share_files"
  fi
  print_share
  exit 0
fi
if [ "$mode" = --alive ]; then
  alive
  exit 0
fi
if [ "$mode" = --margins ]; then
  measure_margins
  echo "| content check (median) | value | target | |"
  echo "|---|---:|---|---|"
  print_margins_rows
  exit 0
fi
make_tree_once 50k 50000 5000
make_tree_once 200k 200000 20000
[ "$cold" -eq 1 ] || echo "not root: the cold-cache rows are skipped (they drop the page cache)" >&2
measure 50k
measure 200k
measure_ends 200k
measure_same_name
measure_content
measure_margins
measure_previews
measure_share 50k
echo
echo "Snapsift $(git -C "$source_dir" describe --always --dirty 2>/dev/null), $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(. /etc/os-release; echo "$PRETTY_NAME"), load before the build: $load"
echo
print_table
print_content_table
echo
print_previews
print_share
