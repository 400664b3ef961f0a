# shellcheck shell=bash
# Sourced: private_apt DIR ARCH gives apt a configuration of its own under DIR and exports it
# as APT_CONFIG, so that apt-get reads and writes nothing of the system's apt or dpkg state:
# its sources are DIR/sources.list (the caller writes it), its pins DIR/preferences.d, its
# lists, cache, dpkg status and log all under DIR, and ARCH its one architecture. For a fetch
# of another architecture's packages without adding that architecture to the system, and for
# tests of how apt meets a broken archive.
private_apt() {
    local dir=$1 arch=$2
    mkdir -p "$dir/lists/partial" "$dir/archives/partial" "$dir/sources.list.d" \
        "$dir/preferences.d" "$dir/apt.conf.d" "$dir/dpkg/updates" "$dir/dpkg/info" "$dir/log"
    : >"$dir/dpkg/status"
    touch "$dir/sources.list"
    # Downloads are made by the unprivileged _apt user, which must reach the folder.
    chmod 0755 "$dir"
    cat >"$dir/apt.conf" <<CONF
Dir::State "$dir";
Dir::State::Lists "$dir/lists";
Dir::State::status "$dir/dpkg/status";
Dir::Cache "$dir";
Dir::Cache::archives "$dir/archives";
Dir::Etc::SourceList "$dir/sources.list";
Dir::Etc::SourceParts "$dir/sources.list.d";
Dir::Etc::Preferences "$dir/preferences";
Dir::Etc::PreferencesParts "$dir/preferences.d";
Dir::Etc::Parts "$dir/apt.conf.d";
Dir::Log "$dir/log";
DPkg::Options:: "--admindir=$dir/dpkg";
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
Acquire::Retries "3";
Debug::NoLocking "true";
CONF
    export APT_CONFIG=$dir/apt.conf
}
