# bash completion for tarntool
_tarntool() {
  local cur prev words cword
  _init_completion || return
  local commands="info verify encode decode rekey keygen sign"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --key-file | --new-key-file | --public-key | --secret-key | --signature | --password-file)
      _filedir
      return
      ;;
    -o | --output)
      # A file, or - for the standard output (keygen takes a file only).
      _filedir
      [[ ${words[1]} != keygen && -z $cur ]] && COMPREPLY+=(-)
      return
      ;;
    --key-env | --new-key-env | --password-env)
      COMPREPLY=($(compgen -e -- "$cur"))
      return
      ;;
    --key-fd | --new-key-fd | --password-fd | -j | --jobs | --min-version | --version | --device | --comment)
      return
      ;;
  esac
  local options="-h --help -q --quiet"
  case ${words[1]} in
    info) options+=" --json -j --jobs" ;;
    verify) options+=" --json -j --jobs --key-file --key-env --key-fd --public-key --signature --min-version --device" ;;
    encode | decode) options+=" -o --output --key-file --key-env --key-fd" ;;
    rekey) options+=" -o --output --key-file --key-env --key-fd --new-key-file --new-key-env --new-key-fd" ;;
    keygen) options+=" -o --output --signing --public-key --secret-key --password-file --password-env --password-fd" ;;
    sign) options+=" --secret-key --password-file --password-env --password-fd --version --device --comment --signature" ;;
  esac
  if [[ $cur == -?* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    # A file, or - for the standard input.
    _filedir
    [[ ${words[1]} != keygen && ( -z $cur || $cur == - ) ]] && COMPREPLY+=(-)
  fi
}
complete -F _tarntool tarntool
