#!/usr/bin/env bash
# Reruns every benchmark and prints its figures, then times ffmpeg doing the
# recording chain's work on the very audio bench_pipeline used. The figures in
# docs/performance.md come from one run of this script.
#
#   scripts/perf_report.sh [--quick]
#
# Full lengths: an hour of audio for the pipeline bench and ffmpeg, two hours
# for the pipeline soak, a 60 s and a 10 min real recording against a private
# PulseAudio (about 20 minutes in all). --quick shortens each to minutes.
# Uses ./build (or $QUILLON_BUILD_DIR), built beforehand with scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(realpath "${QUILLON_BUILD_DIR:-build}")"
BENCH="$BUILD_DIR/bench"
export QUILLON_BUILD_DIR="$BUILD_DIR" QUILLON_SOURCE_DIR="$PWD"

pipeline_seconds=3600 soak_seconds=7200 cpu_seconds=60 recording_seconds=600
if [[ "${1:-}" == "--quick" ]]; then
  pipeline_seconds=300 soak_seconds=600 cpu_seconds=20 recording_seconds=90
fi

work="$(mktemp -d /tmp/quillon-perf-XXXXXX)"
trap 'rm -rf "$work"' EXIT

section() { printf '\n== %s ==\n' "$*"; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"

for name in logger codec usb_serial player_render application_monitor; do
  section "bench_$name"
  "$BENCH/bench_$name"
done

section "bench_pipeline $pipeline_seconds (inputs kept for ffmpeg)"
"$BENCH/bench_pipeline" "$pipeline_seconds" --inputs "$work" | tee "$work/pipeline.txt"

# ffmpeg on the same two raw sources: down-mix each to mono, resample to
# 16 kHz, pair the microphone with the system audio 2560 samples later, mix
# 0.6/0.4 without normalising, then write a 16-bit WAV and 40 ms Opus frames
# at the bit rate libopus chose by default in the chain. One thread, as the
# chain uses one.
opus_bytes=$(sed -n 's/.*Opus \([0-9]*\) bytes in \([0-9]*\) frames.*/\1 \2/p' "$work/pipeline.txt")
read -r bytes frames <<<"$opus_bytes"
bitrate=$(( (bytes - 2 * frames) * 8 / (frames * 40 / 1000) ))
graph="[0:a]pan=mono|c0=0.5*c0+0.5*c1,aresample=16000[m];"
graph+="[1:a]pan=mono|c0=0.5*c0+0.5*c1,aresample=16000,atrim=start_sample=2560[s];"
graph+="[m][s]amix=inputs=2:weights=0.6 0.4:normalize=0:duration=shortest,asplit=2[w][o]"
TIMEFORMAT='%U %S %R'
section "ffmpeg: resample, mix, WAV and Opus at ${bitrate} b/s"
{ time ffmpeg -hide_banner -nostdin -loglevel error -y -threads 1 -filter_threads 1 \
    -f f32le -ar 48000 -ac 2 -i "$work/mic.f32" -f s16le -ar 44100 -ac 2 -i "$work/loop.s16" \
    -filter_complex "$graph" \
    -map "[w]" -c:a pcm_s16le "$work/ffmpeg.wav" \
    -map "[o]" -c:a libopus -b:a "$bitrate" -frame_duration 40 -application audio "$work/ffmpeg.ogg" ; } \
  2> "$work/ffmpeg_time.txt"
read -r user sys real < <(tail -1 "$work/ffmpeg_time.txt")
awk -v u="$user" -v s="$sys" -v r="$real" -v a="$pipeline_seconds" 'BEGIN {
  printf "ffmpeg whole job: %.3f s CPU (%.3f user, %.3f system), %.3f s wall, %.1f x real time\n", u + s, u, s, r, a / (u + s) }'
section "ffmpeg: Opus encoding alone of its own 16 kHz result"
{ time ffmpeg -hide_banner -nostdin -loglevel error -y -threads 1 -i "$work/ffmpeg.wav" \
    -c:a libopus -b:a "$bitrate" -frame_duration 40 -application audio "$work/ffmpeg_only.ogg" ; } \
  2> "$work/ffmpeg_time.txt"
read -r user sys real < <(tail -1 "$work/ffmpeg_time.txt")
awk -v u="$user" -v s="$sys" -v a="$pipeline_seconds" 'BEGIN {
  printf "ffmpeg Opus alone: %.3f s CPU, %.1f x real time\n", u + s, a / (u + s) }'
rm -f "$work"/*.f32 "$work"/*.s16 "$work"/*.wav "$work"/*.ogg

section "bench_soak_pipeline $soak_seconds"
"$BENCH/bench_soak_pipeline" "$soak_seconds"

section "recording_cpu.py --seconds $cpu_seconds"
python3 bench/recording_cpu.py --seconds "$cpu_seconds"

section "soak_recording.py --seconds $recording_seconds"
python3 bench/soak_recording.py --seconds "$recording_seconds"
