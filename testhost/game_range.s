# The game's address range of runtime 1.9.32.0 (0x00401000-0x01BFFFFF): an uninitialised,
# writable, executable section that the linker script places right after the headers.
.section .game,"bwx"
.globl _testhost_game_range_start
_testhost_game_range_start:
.space 0x17FF000
