#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A one-node Slurm cluster and an SSH server on the loopback, with all their state in one folder.
#   testcluster.sh start DIR   starts munged, slurmctld, slurmd and sshd; prints nothing on success
#   testcluster.sh stop DIR    stops them
# A client reaches the cluster as "ssh -F DIR/ssh_config moltra-test".
# Exit 77 (with the reason on standard error) where it cannot run here.
set -euo pipefail
action=$1
dir=$(realpath "$2")

stop() {
    # Jobs still running would outlive the daemons as orphaned job steps.
    if [ -f "$dir/slurm.conf" ] && [ -f "$dir/run/slurmctld.pid" ]; then
        SLURM_CONF=$dir/slurm.conf timeout 5 scancel --full --user="$(id -un)" 2>/dev/null || true
    fi
    for pidfile in "$dir"/run/*.pid; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        # The sessions of sshd outlive the listener: they go first.
        pkill -TERM -P "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
    done
    for pidfile in "$dir"/run/*.pid; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$pidfile"
    done
}

if [ "$action" = stop ]; then
    stop
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "the test cluster runs its daemons as root, and this is user $(id -un)" >&2
    exit 77
fi
for program in munged mungekey slurmctld slurmd sinfo sbatch sshd ssh ssh-keygen; do
    if ! command -v "$program" >/dev/null && [ ! -x "/usr/sbin/$program" ]; then
        echo "$program is not installed (scripts/setup.sh installs slurm-wlm, munge and openssh-server)" >&2
        exit 77
    fi
done
export PATH=$PATH:/usr/sbin
trap 'stop' ERR

mkdir -p "$dir"/{munge,run,log,state,spool,ssh}
chmod 755 "$dir" "$dir/munge"
host=$(hostname -s)
port_base=$((20000 + RANDOM % 20000))

# munge: its key's folder must be reachable by the daemons, or the socket is "inaccessible".
mungekey -c -k "$dir/munge/munge.key" 2>/dev/null
chmod 400 "$dir/munge/munge.key"
socket=$dir/munge/munge.socket.2
munged -F --force --key-file="$dir/munge/munge.key" --socket="$socket" \
    --pid-file="$dir/run/munged.pid" --log-file="$dir/log/munged.log" \
    --seed-file="$dir/munge/seed" >"$dir/log/munged.out" 2>&1 &
echo $! >"$dir/run/munged.pid"
for _ in $(seq 100); do
    munge -S "$socket" -n 2>/dev/null | unmunge -S "$socket" >/dev/null 2>&1 && break
    sleep 0.1
done

node=$(slurmd -C | head -1)
cat >"$dir/slurm.conf" <<EOF
ClusterName=moltratest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port_base
SlurmdPort=$((port_base + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid.slurm
SlurmdPidFile=$dir/run/slurmd.pid.slurm
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
MinJobAge=300
MailProg=/bin/true
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.log
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$dir/slurm.conf
slurmctld -D -i -f "$SLURM_CONF" >"$dir/log/slurmctld.out" 2>&1 &
echo $! >"$dir/run/slurmctld.pid"
slurmd -D -f "$SLURM_CONF" >"$dir/log/slurmd.out" 2>&1 &
echo $! >"$dir/run/slurmd.pid"

# sshd: its own host key, the client's key as the one authorised, the cluster's configuration.
ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh/client_key"
cp "$dir/ssh/client_key.pub" "$dir/ssh/authorized_keys"
ssh_port=$((port_base + 2))
cat >"$dir/ssh/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $ssh_port
HostKey $dir/ssh/host_key
AuthorizedKeysFile $dir/ssh/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
PidFile $dir/run/sshd.pid.ssh
SetEnv SLURM_CONF=$SLURM_CONF
MaxSessions 100
MaxStartups 100:30:200
EOF
echo "[127.0.0.1]:$ssh_port $(cat "$dir/ssh/host_key.pub")" >"$dir/ssh/known_hosts"
cat >"$dir/ssh_config" <<EOF
Host moltra-test
    HostName 127.0.0.1
    Port $ssh_port
    User root
    IdentityFile $dir/ssh/client_key
    IdentitiesOnly yes
    UserKnownHostsFile $dir/ssh/known_hosts
    StrictHostKeyChecking yes
EOF
mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$dir/ssh/sshd_config" 2>"$dir/log/sshd.log" &
echo $! >"$dir/run/sshd.pid"

for _ in $(seq 150); do
    if sinfo -h -N -o %t 2>/dev/null | grep -q idle \
        && ssh -F "$dir/ssh_config" -o BatchMode=yes moltra-test true 2>/dev/null; then
        exit 0
    fi
    sleep 0.1
done
echo "the test cluster did not come up; its logs are in $dir/log" >&2
tail -5 "$dir"/log/* >&2 || true
stop
exit 1
