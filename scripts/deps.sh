# Sourced by run.sh and test.sh: installs the Debian packages the build and
# the tests need when they are missing (one apt-get update, then one install).
marubo_install_deps() {
  local wanted=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev
                libbenchmark-dev nlohmann-json3-dev python3
                python3-pyftpdlib vsftpd curl "$@")
  local missing=()
  local p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}
