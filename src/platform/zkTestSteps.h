#pragma once

// Whole-process tests only: with VELQUIST_TEST_STEPS set, the client works through a script of
// user steps on its own windows, each as soon as its control is there, visible and enabled:
//   Name            click the button or trigger the menu item with that object name
//   Name=text       put the text into the line edit with that object name
//   select:Name:t   select the first entry of that list box whose text begins with t
//   selected:Name:t wait until the active window's item view of that name has a selected
//                   row with a cell whose text is t
//   input:text      the next text input dialog answers with text
//   exists:path     wait until the file exists (the test's cue for the next steps)
// Steps are separated by ";". When the last has run, "velquist test steps done" goes to stderr.
namespace zkTestSteps {
void StartFromEnvironment();
}
