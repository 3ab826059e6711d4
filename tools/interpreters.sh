# Sourced by the scripts that run on several Pythons.
# interpreter MINOR: the installed CPython of a minor version (e.g. 3.10): pyenv's, else the
# newest in pyenv's folder.
interpreter() {
  local prefix
  prefix=$(pyenv prefix "$1" 2>/dev/null) \
    || prefix=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}/versions/$1".* 2>/dev/null | sort -V | tail -n 1)
  [ -n "$prefix" ] && [ -x "$prefix/bin/python" ] || return 1
  echo "$prefix/bin/python"
}
