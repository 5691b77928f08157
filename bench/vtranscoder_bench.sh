#!/usr/bin/env bash
# Side-by-side benchmark of the conversion engine and the ffmpeg command line: same inputs,
# same filters and encoder settings, several runs each. Prints per case the median wall and
# CPU times (CPU time of all processes of a run; steadier than wall time on a busy machine),
# the ratios ours/ffmpeg and the quality of both outputs against the source (PSNR in dB for
# pictures, SDR in dB for sound; "inf" for identical), with the equivalent ffmpeg command.
#
#     bench/vtranscoder_bench.sh            # RUNS=5 by default; RUNS=3 bench/... for a quick look
#
# Still cases time STILLS conversions (10 by default) per run on both sides: the engine as a
# running server converts them, through its warm helper, against as many ffmpeg runs.
#
# Builds the engine with the "bench" preset (Release) into build/bench, makes its inputs in a
# temporary folder and removes them at the end. Not run by CI.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build/bench}"
RUNS="${RUNS:-5}"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/vtranscoder-bench-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

cmake --preset bench -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target vtranscode_bench vtranscode_bench_plan ZeltoVTranscodeHelper \
  >/dev/null
BENCH="$BUILD/bench/vtranscode_bench"
PLAN="$BUILD/bench/vtranscode_bench_plan"
export VTRANSCODE_HELPER="$BUILD/components/vtranscoderlib/ZeltoVTranscodeHelper"

echo "Making inputs in $WORK ..."
for size in 640x480 1280x720; do
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=$size:rate=30:duration=20" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=20" \
    -ac 2 -c:v libx264 -preset medium -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k \
    "$WORK/in$size.mp4"
done
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1920x1080" -frames:v 1 "$WORK/still.png"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# "<wall seconds> <CPU seconds>" of one run of a command (CPU time of all its processes).
timed() {
  local TIMEFORMAT='%R %U %S' result
  result=$({ time "$@" >/dev/null 2>"$WORK/stderr"; } 2>&1) || {
    cat "$WORK/stderr" >&2
    exit 1
  }
  echo "$result" | awk '{ print $1, $2 + $3 }'
}

# PSNR (average over planes and frames) of an output's pictures against the reference chain.
psnr() {
  local output=$1 source=$2 reference=$3 kind=$4 format=yuv420p
  [ "$kind" = image ] && format=rgb24
  ffmpeg -nostdin -hide_banner -nostats -v info -i "$output" -i "$source" -lavfi \
    "[1:v]$reference,format=$format[ref];[0:v]setsar=1,format=$format[out];[out][ref]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR .*average:\([^ ]*\).*/\1/p' | tail -1
}

# Signal-to-distortion ratio of an output's sound against the source, averaged over channels.
sdr() {
  local output=$1 source=$2
  local format="aformat=sample_fmts=flt:sample_rates=48000:channel_layouts=stereo"
  ffmpeg -nostdin -hide_banner -nostats -v info -i "$output" -i "$source" -lavfi \
    "[0:a]$format[out];[1:a]$format[ref];[out][ref]asdr" -f null - 2>&1 |
    sed -n 's/.*SDR ch[0-9]*: *\([-0-9.]*\) dB.*/\1/p' | awk '{ s += $1 } END { if (NR) printf "%.2f", s / NR }'
}

printf '\n%-38s %8s %8s %6s %8s %8s %6s %8s %8s\n' "case" "ours s" "ffmpeg s" "ratio" \
  "ours cpu" "ff cpu" "ratio" "ours dB" "ff dB"

# run_case <label> <kind: video|audio|image> <source> <extension> <format> [settings...]
# With REPEAT=K each run converts K times: the engine in one process, as a running server
# converts one job after another (its warm helper started once), ffmpeg K times.
run_case() {
  local label=$1 kind=$2 source=$3 extension=$4 format=$5
  shift 5
  local ours="$WORK/ours.$extension" theirs="$WORK/ffmpeg.$extension"
  local common=(--source "$source" --format "$format" "$@")
  local command repeat=${REPEAT:-1} repeated=""
  command=$("$PLAN" ffmpeg "${common[@]}" --output "$theirs")
  for ((i = 0; i < repeat; i++)); do repeated+="$command;"; done
  local ourTimes=() theirTimes=()
  for ((run = 0; run < RUNS; run++)); do
    ourTimes+=("$(timed "$BENCH" --repeat "$repeat" "${common[@]}" --output "$ours")")
    theirTimes+=("$(timed bash -c "$repeated")")
  done
  local ourWall theirWall ourCpu theirCpu ourQuality theirQuality
  ourWall=$(printf '%s\n' "${ourTimes[@]}" | cut -d' ' -f1 | median)
  theirWall=$(printf '%s\n' "${theirTimes[@]}" | cut -d' ' -f1 | median)
  ourCpu=$(printf '%s\n' "${ourTimes[@]}" | cut -d' ' -f2 | median)
  theirCpu=$(printf '%s\n' "${theirTimes[@]}" | cut -d' ' -f2 | median)
  if [ "$kind" = audio ]; then
    ourQuality=$(sdr "$ours" "$source")
    theirQuality=$(sdr "$theirs" "$source")
  else
    local reference
    reference=$("$PLAN" reference "${common[@]}" --output "$ours")
    ourQuality=$(psnr "$ours" "$source" "$reference" "$kind")
    theirQuality=$(psnr "$theirs" "$source" "$reference" "$kind")
  fi
  awk -v label="$label" -v ow="$ourWall" -v tw="$theirWall" -v oc="$ourCpu" -v tc="$theirCpu" \
    -v oq="$ourQuality" -v tq="$theirQuality" 'BEGIN {
      printf "%-38s %8.3f %8.3f %6.3f %8.3f %8.3f %6.3f %8.2f %8.2f\n",
        label, ow, tw, ow / tw, oc, tc, oc / tc, oq, tq }'
  echo "    ffmpeg: ${command//$WORK\//}"
}

for size in 640x480 1280x720; do
  input="$WORK/in$size.mp4"
  run_case "(a) $size fmt 10 320x240 30fps 768k" video "$input" mp4 10 \
    --video-width 320 --video-height 240 --frame-rate 30 --video-bit-rate 768000 \
    --audio-bit-rate 128000
  run_case "(b) $size fmt 9 176x144 15fps 192k" video "$input" mp4 9 \
    --video-width 176 --video-height 144 --frame-rate 15 --video-bit-rate 192000
  run_case "(c) $size fmt 25 176x144 15fps" video "$input" 3gp 25 \
    --video-width 176 --video-height 144 --frame-rate 15
  run_case "(d) $size fmt 11 128k (SDR)" audio "$input" m4a 11 --audio-bit-rate 128000
done
STILLS="${STILLS:-10}"
for entry in 15:jpg 16:bmp 17:png 18:gif; do
  REPEAT=$STILLS run_case "(e) still fmt ${entry%%:*} 640x480 x$STILLS" image "$WORK/still.png" \
    "${entry##*:}" "${entry%%:*}" --image-width 640 --image-height 480
done

# A batch of photos, as a library sync meets them: the engine converting one after the other
# as the server does (one process, one CVConversion per photo, one warm helper) against a
# per-file loop of the ffmpeg command line.
BATCH="${BATCH:-200}"
mkdir -p "$WORK/photos" "$WORK/ours-photos" "$WORK/ff-photos"
for ((i = 0; i < BATCH; i++)); do
  if ((i % 2)); then extension=jpg; else extension=png; fi
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1920x1080" -vf "hue=h=$((i * 7))" \
    -frames:v 1 "$WORK/photos/p$i.$extension"
done
for photo in "$WORK"/photos/*; do
  printf '%s\t%s\n' "$photo" "$WORK/ours-photos/$(basename "$photo").jpg"
done >"$WORK/ours-batch.txt"
batch_ours() { "$BENCH" --batch --format 15 <"$WORK/ours-batch.txt"; }
# The ffmpeg commands are made before the clock starts.
for photo in "$WORK"/photos/*; do
  "$PLAN" ffmpeg --source "$photo" --format 15 --output "$WORK/ff-photos/$(basename "$photo").jpg"
done >"$WORK/ff-batch.sh"
ourBatch=$(timed batch_ours | cut -d' ' -f1)
theirBatch=$(timed bash "$WORK/ff-batch.sh" | cut -d' ' -f1)
awk -v n="$BATCH" -v o="$ourBatch" -v t="$theirBatch" 'BEGIN {
  printf "%-38s %8.3f %8.3f %6.3f\n", "(f) batch of " n " photos to fmt 15", o, t, o / t }'

echo
echo "Median of $RUNS runs each; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)."
