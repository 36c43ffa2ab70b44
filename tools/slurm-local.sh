#!/usr/bin/env bash
# A single-node Slurm on this machine, for trying tools/slurm-bootstrap.sbatch
# and for the Slurm stage of tools/check-slurm.sh:
#
#   dir=$(tools/slurm-local.sh start)    # prints the folder it runs from
#   export SLURM_CONF=$dir/slurm.conf    # sbatch, squeue, sinfo use it
#   ...
#   tools/slurm-local.sh stop "$dir"
#
# start makes a folder (SEGMIX_SLURM_DIR, else a new one under $TMPDIR or
# /tmp) holding a fresh MUNGE key and its own munged (a private socket, so a
# system munged is neither used nor disturbed), a minimal slurm.conf,
# slurmctld and slurmd with their state, logs and pid files; localhost is the
# only node, with this machine's CPUs and memory (slurmd -C), in one partition
# "local". No cgroups: processes are tracked through /proc
# (proctrack/linuxproc), tasks are not bound (task/none), CPUs are the
# consumable (select/cons_tres, CR_CPU), and there is no accounting database.
# It returns when sinfo shows the node idle, or fails.
#
# The daemons listen on SEGMIX_SLURM_PORT and the port after it (default
# 16817 and 16818, clear of a real installation's 6817 and 6818). They run
# as root: slurmd has to start jobs as the user who submitted them.
#
# Exit status 3, with the reason on stderr (missing packages, not root, a
# port taken, a daemon that failed, with the last lines of its log), when
# Slurm cannot be started here, so that a caller can report a skip; whatever
# was started is stopped again. 2 on wrong usage.
#
# stop DIR ends the daemons started from DIR (their pid files) and removes
# DIR; it is quiet when they are gone already.
set -euo pipefail

usage() {
  echo "usage: slurm-local.sh start | stop DIR" >&2
  exit 2
}

# Ends the process of pid file $1 and waits up to 10 s for it to go.
stop_pidfile() {
  [ -s "$1" ] || return 0
  local pid
  pid=$(cat "$1")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

stop_dir() {
  local dir=$1
  # The marker keeps stop from removing a folder this script did not make.
  [ -f "$dir/.segmix-slurm-local" ] || {
    echo "slurm-local.sh: $dir is not a folder made by slurm-local.sh start" >&2
    return 1
  }
  stop_pidfile "$dir/slurmd.pid"
  stop_pidfile "$dir/slurmctld.pid"
  stop_pidfile "$dir/munged.pid"
  rm -rf "$dir"
}

# Prints "slurm-local.sh: cannot start Slurm here: $1", then the last lines of
# each log named after it; stops what was started; exits 3.
cannot() {
  echo "slurm-local.sh: cannot start Slurm here: $1" >&2
  shift
  local log
  for log in "$@"; do
    if [ -s "$log" ]; then
      echo "--- last lines of $(basename "$log"):" >&2
      tail -n 15 "$log" >&2
    fi
  done
  [ -z "${dir:-}" ] || stop_dir "$dir" 2>/dev/null || true
  exit 3
}

# Waits up to $2 tenths of a second for pid file $1 to name a live process.
wait_pidfile() {
  for _ in $(seq "$2"); do
    if [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

port_taken() {
  command -v ss >/dev/null || return 1
  ss -ltnH "sport = :$1" 2>/dev/null | grep -q .
}

start() {
  local c missing=()
  for c in munged mungekey slurmctld slurmd sinfo sbatch squeue scontrol; do
    command -v "$c" >/dev/null || missing+=("$c")
  done
  ((${#missing[@]} == 0)) ||
    cannot "${missing[*]} not installed (tools/install-deps.sh installs slurm-wlm and munge)"
  [ "$(id -u)" -eq 0 ] ||
    cannot "not root (slurmd has to start each job as the user who submitted it)"
  local port=${SEGMIX_SLURM_PORT:-16817}
  local p
  for p in "$port" $((port + 1)); do
    if port_taken "$p"; then
      cannot "port $p is taken (choose others with SEGMIX_SLURM_PORT)"
    fi
  done

  if [ -n "${SEGMIX_SLURM_DIR:-}" ]; then
    dir=$SEGMIX_SLURM_DIR
    mkdir -p "$dir"
  else
    dir=$(mktemp -d "${TMPDIR:-/tmp}/segmix-slurm.XXXXXX")
  fi
  dir=$(cd "$dir" && pwd)
  touch "$dir/.segmix-slurm-local"
  # munged refuses a socket folder that others can write to.
  chmod 755 "$dir"
  mkdir -p "$dir/munge" "$dir/ctld" "$dir/spool"

  mungekey --create --keyfile="$dir/munge/munge.key" >/dev/null 2>&1 ||
    dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/munge/munge.key"
  chmod 755 "$dir/munge"
  munged --socket="$dir/munge/socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" \
    --seed-file="$dir/munge/seed" >>"$dir/munged.log" 2>&1 ||
    cannot "munged failed to start" "$dir/munged.log"
  wait_pidfile "$dir/munged.pid" 50 || cannot "munged did not come up" "$dir/munged.log"

  # This machine as slurmd sees it, renamed localhost.
  local hw
  hw=$(slurmd -C 2>/dev/null | head -1 | sed -E 's/^NodeName=[^ ]+ //; s/ UpTime=.*//') ||
    true
  [ -n "$hw" ] || hw="CPUs=$(nproc)"
  cat >"$dir/slurm.conf" <<EOF
# Written by tools/slurm-local.sh: one node, no cgroups, no accounting.
ClusterName=segmix-local
SlurmctldHost=localhost
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
StateSaveLocation=$dir/ctld
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
MailProg=/bin/true
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
# Finished jobs stay visible to scontrol for 10 minutes: the caller reads
# their states there, with no accounting.
MinJobAge=600
KillWait=5
NodeName=localhost NodeAddr=127.0.0.1 $hw State=UNKNOWN
PartitionName=local Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF="$dir/slurm.conf"

  slurmctld >>"$dir/slurmctld.log" 2>&1 ||
    cannot "slurmctld failed to start" "$dir/slurmctld.log"
  wait_pidfile "$dir/slurmctld.pid" 100 ||
    cannot "slurmctld did not come up" "$dir/slurmctld.log"
  slurmd -N localhost >>"$dir/slurmd.log" 2>&1 ||
    cannot "slurmd failed to start" "$dir/slurmd.log"
  wait_pidfile "$dir/slurmd.pid" 100 || cannot "slurmd did not come up" "$dir/slurmd.log"

  local state=""
  for _ in $(seq 60); do
    state=$(sinfo -h -n localhost -o %T 2>/dev/null || true)
    [ "$state" = idle ] && break
    kill -0 "$(cat "$dir/slurmd.pid")" 2>/dev/null ||
      cannot "slurmd exited" "$dir/slurmd.log"
    kill -0 "$(cat "$dir/slurmctld.pid")" 2>/dev/null ||
      cannot "slurmctld exited" "$dir/slurmctld.log"
    sleep 0.5
  done
  [ "$state" = idle ] ||
    cannot "node localhost not idle after 30 s (sinfo: ${state:-no answer})" \
      "$dir/slurmctld.log" "$dir/slurmd.log"
  echo "slurm-local.sh: Slurm up, node localhost idle ($hw); SLURM_CONF=$dir/slurm.conf" >&2
  echo "$dir"
}

case "${1:-}" in
  start) start ;;
  stop)
    [ $# -eq 2 ] || usage
    stop_dir "$2"
    ;;
  *) usage ;;
esac
