#!/usr/bin/env bash
# Installs from Debian's packages whatever this machine lacks for one job:
#   build  the compiler, CMake and Ninja: enough to build bronta
#   test   all that the tests need besides: GoogleTest, clang's sanitizer
#          and fuzzer runtimes, clang-format and clang-tidy, gcovr, strace,
#          groff, git, python3, Xvfb, FAT, exFAT and bindfs through FUSE with
#          their mkfs, sshfs and the sftp server it runs, the mingw-w64
#          cross compilers (win32 thread model), Wine (32- and 64-bit), and
#          the locales the tests name (Western and Japanese UTF-8, Shift_JIS,
#          GB18030); where the kernel runs no 32-bit programs, qemu-user from
#          the backports suite, which runs 32-bit Wine
#   bench  the benchmark's tools: hyperfine, GNU time, sox, python3
# Needs root (or sudo) only when something is missing.
#   install-deps.sh [build|test|bench]   (default: test)
set -euo pipefail
scope=${1:-test}

packages=(cmake ninja-build g++)
case $scope in
  build) ;;
  test)
    packages+=(clang libclang-rt-14-dev clang-format clang-tidy libgtest-dev locales gcovr strace
               groff-base git python3 xvfb xauth fusefat bindfs exfat-fuse dosfstools exfatprogs
               sshfs openssh-sftp-server
               g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine64 wine32:i386) ;;
  bench) packages+=(hyperfine time sox python3) ;;
  *) echo "usage: $0 [build|test|bench]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"; }

# Whether this kernel starts a 32-bit x86 program: a 96-byte one that exits
# with 32.
runs_32bit() {
  local probe status=0
  probe=$(mktemp) || return 1
  local bytes='\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0'
  bytes+='\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0'
  bytes+='\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\40\0\0\0\315\200'
  printf "$bytes" >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ $status -eq 32 ]
}

# 32-bit Wine runs under qemu-user where the kernel runs no 32-bit programs;
# Debian 12's own qemu (7.2) cannot start it, the backports suite's can.
qemu_suite=
if [ "$scope" = test ] && ! runs_32bit; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  qemu_suite=$codename-backports
  qemu_major=$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null |
               sed -n 's/^install ok installed \([0-9]*:\)\{0,1\}\([0-9]*\).*/\2/p' || true)
  if [ "${qemu_major:-0}" -ge 8 ]; then
    qemu_suite=
  elif ! grep -rqs "$qemu_suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "this kernel runs no 32-bit programs: adding $qemu_suite to the package sources" \
         "(/etc/apt/sources.list.d/$qemu_suite.sources) for qemu-user, which runs 32-bit Wine"
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\n%s\n' \
      "$qemu_suite" 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      as_root tee "/etc/apt/sources.list.d/$qemu_suite.sources" >/dev/null
  fi
fi

if [ ${#missing[@]} -gt 0 ] || [ -n "$qemu_suite" ]; then
  # wine32 is an i386 package: the 32-bit bronta.exe runs under it.
  if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  install "${missing[@]}"
fi
if [ -n "$qemu_suite" ]; then
  echo "installing qemu-user from $qemu_suite: this kernel runs no 32-bit programs"
  install -t "$qemu_suite" qemu-user
fi

# The locales the tests run the program under, made where missing (locale -a
# spells the character set in lower case, without the dash).
make_locale() {
  local name=$1 spelled
  spelled=${name%%.*}.$(echo "${name#*.}" | tr 'A-Z' 'a-z' | tr -d -)
  locale -a 2>/dev/null | grep -qx "$spelled" && return
  echo "making the locale $name"
  shift
  as_root localedef "$@" "$name"
}
if [ "$scope" = test ]; then
  make_locale en_US.UTF-8 -i en_US -f UTF-8
  make_locale ja_JP.UTF-8 -i ja_JP -f UTF-8
  # Shift_JIS's ASCII range is not ASCII (0x5C is the yen sign): without
  # leave to differ there, localedef fails.
  make_locale ja_JP.SJIS --no-warnings=ascii -i ja_JP -f SHIFT_JIS
  make_locale zh_CN.GB18030 -i zh_CN -f GB18030
fi
