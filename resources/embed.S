/* The information property list travels inside the executable, in a section
   of its own, so `objcopy --dump-section .tarvio_plist=out` gives it back. */
    .section .tarvio_plist, "a", @progbits
    .globl tarvioInfoPlist
tarvioInfoPlist:
    .incbin "Info.plist"
    .globl tarvioInfoPlistEnd
tarvioInfoPlistEnd:
    .section .note.GNU-stack, "", @progbits
