// Identifiers of the program's resources, for the resource script and the code that uses them.
// Plain #defines: windres reads this file too.
#pragma once

// The update window's template and its controls (besides IDCANCEL, the Abort button).
#define QM_UPDATE_DIALOG 1009
#define QM_PROGRESS_BAR 1002
#define QM_STATUS_LINE 1009
#define QM_TRANSFER_LINE 1010

// The program's icon group.
#define QM_PROGRAM_ICON 128
