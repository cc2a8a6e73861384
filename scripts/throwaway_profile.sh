# Sourced: make_throwaway_profile makes a new profile folder, $profile, removed when the shell
# exits, and points the library and the key store at it. They take the profile from
# `userprofile` in any spelling, else HOME. The machine's roots, which the "Root" store shows
# beneath the user's, come from a bundle in the profile, absent unless a test writes it; the
# machine's store is a folder in the profile, never the host's.
make_throwaway_profile() {
  profile=$(mktemp -d)
  trap 'rm -rf "$profile"' EXIT
  local name
  for name in $(compgen -e); do
    if [[ ${name,,} == userprofile ]]; then unset "$name"; fi
  done
  unset XDG_DATA_HOME
  export HOME="$profile"
  export QDIE_SYSTEM_ROOTS="$profile/system-roots.pem"
  export QDIE_MACHINE_STORE="$profile/machine"
}
