# fish completion for halfmap-cli: options, folders as arguments, and after
# -o the one bitmap INPUT.

# 1 to the processors here, within the 64 the option takes.
function __halfmap_cli_jobs
    seq 1 (math "min(64, $(nproc 2>/dev/null; or echo 1))")
end

complete -c halfmap-cli -s h -l help -d 'Print a short usage'
complete -c halfmap-cli -l version -d 'Print the version'
complete -c halfmap-cli -s j -l jobs -x -a '(__halfmap_cli_jobs)' -d 'Convert up to N maps at once'
complete -c halfmap-cli -s q -l quiet -d 'No progress display on the terminal'
complete -c halfmap-cli -l json -d 'One JSON object per map on stdout'
complete -c halfmap-cli -l verify -n 'not __fish_seen_argument -l changed -l watch' -d 'Write nothing; check each output'
complete -c halfmap-cli -l changed -n 'not __fish_seen_argument -l verify' -d 'Convert only what is out of date'
complete -c halfmap-cli -l watch -n 'not __fish_seen_argument -l verify' -d 'Convert each map again when saved'
complete -c halfmap-cli -s o -r -F -d 'Convert the one bitmap INPUT to OUTPUT'
# Folders; after -o, the INPUT bitmap.
complete -c halfmap-cli -n 'not __fish_seen_argument -s o' -f -a '(__fish_complete_directories (commandline -ct) Folder)'
complete -c halfmap-cli -n '__fish_seen_argument -s o' -F
