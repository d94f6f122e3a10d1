# fish completion for kivpfx

function __kivpfx_no_command
    not __fish_seen_subcommand_from protect inspect help
end

# Folders, and files whose name ends in .pfx or .p12 in any letter case, as protect finds them.
function __kivpfx_pfx_paths
    for path in (complete -C "__fish_command_without_completions "(commandline -ct) | string split -f1 \t)
        if string match -q -- '*/' $path; or string match -qi -- '*.pfx' $path; or string match -qi -- '*.p12' $path
            echo $path
        end
    end
end

complete -c kivpfx -f
complete -c kivpfx -n __kivpfx_no_command -a protect -d 'Password-protect password-less PKCS#12 files'
complete -c kivpfx -n __kivpfx_no_command -a inspect -d 'Tell what PKCS#12 files hold'
complete -c kivpfx -n __kivpfx_no_command -a help -d 'Show the help of a command'
complete -c kivpfx -n '__fish_seen_subcommand_from help' -a 'protect inspect'
complete -c kivpfx -n __kivpfx_no_command -s h -l help -d 'Show the usage'
complete -c kivpfx -n __kivpfx_no_command -l version -d 'Show the version'

set -l protect '__fish_seen_subcommand_from protect'
set -l either '__fish_seen_subcommand_from protect inspect'
complete -c kivpfx -n $protect -s j -l jobs -x -a '(seq 1 (nproc 2>/dev/null; or echo 4))' -d 'Protect N files at once'
complete -c kivpfx -n $protect -l compat -d '3DES and HMAC-SHA1, for systems without AES-256'
complete -c kivpfx -n $protect -l iterations -x -a '10000 50000 100000 600000' -d 'Key derivation iterations'
complete -c kivpfx -n $protect -l password-file -r -F -d 'Read the password from a file'
complete -c kivpfx -n $protect -l password-fd -x -a '0 3 4 5 6 7 8 9' -d 'Read the password from a descriptor'
complete -c kivpfx -n $protect -s n -l dry-run -d 'Load every file, write nothing'
complete -c kivpfx -n $protect -s q -l quiet -d 'Print failures only'
complete -c kivpfx -n $protect -l files-from -r -F -d 'Also take the paths listed in a file'
complete -c kivpfx -n $protect -s 0 -l null -d 'The file list is NUL-separated'
complete -c kivpfx -n $protect -l shard -x -a '0/2 1/2 0/4 1/4 2/4 3/4' -d 'Keep only part K of N of the files'
complete -c kivpfx -n $protect -l remove-sources -l rm -d 'Remove each source once its copy is verified'
complete -c kivpfx -n '__fish_seen_subcommand_from inspect' -l fail-if-passwordless -d 'Exit with 1 when a password-less file is found'
complete -c kivpfx -n $either -l json -d 'Print one JSON report'
complete -c kivpfx -n $protect -s z -l zero -d 'End each report line with NUL, names as they are'
complete -c kivpfx -n $either -s h -l help -d 'Show the usage'
complete -c kivpfx -n $protect -a '(__kivpfx_pfx_paths)'
complete -c kivpfx -n '__fish_seen_subcommand_from inspect' -F
