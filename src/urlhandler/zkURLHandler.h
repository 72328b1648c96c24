#pragma once

// Reads and empties the URL handler mailbox and runs its command.
// Stand-in until the URL handler work lands: nothing is read yet.
void PollURLHandler();
