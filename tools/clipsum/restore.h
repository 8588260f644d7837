#pragma once
// clipsum restore: the way back. The originals saved by --backup-dir go back
// over their stripped forms, as the backup folder's log says.

int RunRestore(int argc, char** argv);
