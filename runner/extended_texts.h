// What devbench-extended says to the technician beyond devbench's own
// prompts, and the lines it prints on the paper for the technician to look
// for. One table for the program and for the operator that answers it (and
// the printer's page that shows a person what each prompt asks), so the
// question asked and the question answered cannot drift apart.
#pragma once

// Prompts (answered with Enter, as devbench's).
#define EXT_PROMPT_COVER_ONLY "Open the cover (leave the paper in), then hit enter"
#define EXT_PROMPT_PAPER_ONLY "Close the cover and take the paper out, then hit enter"
#define EXT_PROMPT_COVER_BLINK "Open the cover and close it again, then hit enter"

// The second name of the port: another spelling of the same port, such as
// \\.\COM3 beside COM3. An empty answer skips the step.
#define EXT_ASK_OTHER_NAME "Enter another name of the same port, or nothing to skip: "

// Lines printed on the paper, each on its own line, for the questions below.
#define EXT_LINE_UNPLUGGED "devbench-extended: written while unplugged"
#define EXT_LINE_OFFLINE "devbench-extended: written while offline"
#define EXT_LINE_ONCE "devbench-extended: written once"

// What follows each yes/no question on its line; the answer is typed after it.
#define EXT_YES_NO_END " (y/n) "

// Yes/no questions. Each is about what
// happened since the test began or since the question before it in the test.
#define EXT_ASK_RESET "Did the printer reset since the last question (or the start of this test)?"
#define EXT_ASK_UNPLUGGED_LINE "Did the line '" EXT_LINE_UNPLUGGED "' come out?"
#define EXT_ASK_OFFLINE_LINE "Did the line '" EXT_LINE_OFFLINE "' come out?"
#define EXT_ASK_ONCE_LINE "Has the line '" EXT_LINE_ONCE "' come out already?"
#define EXT_ASK_STILL_PRINTING "Is the printer still printing the job?"
#define EXT_ASK_RASTER_WHOLE "Since the last question, did one raster image come out, whole and once, and nothing else?"
