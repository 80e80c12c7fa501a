# Symbols for a Windows target: PDB_NAME beside it and one CodeView debug
# record in the image that names the PDB by its file name alone, plus lld's
# repro record, whose hash also becomes the header's time stamp. Compiler and
# linker see only fixed paths, so two builds of one tree in different
# directories give the same image and the same PDB.
function(korimath_add_symbols target pdb_name)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-g -gcodeview -gno-codeview-command-line -fdebug-compilation-dir=.>)
    target_link_options(${target} PRIVATE
        # Relative: the PDB records the linker's command line.
        -g -Wl,--pdb=${pdb_name}
        -Wl,-Xlink=-Brepro
        "-Wl,-Xlink=-pdbaltpath:%_PDB%"
        -Wl,-Xlink=-pdbsourcepath:C:/korimath
        # The debug directory and its records join the read-only data
        # instead of a section of their own.
        "SHELL:-Xlinker -Xlink=-merge:.buildid=.rdata")
    # clang passes each LIBRARY_PATH entry to the linker, and the PDB would
    # keep this machine's entries.
    set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK "env -u LIBRARY_PATH")
endfunction()
