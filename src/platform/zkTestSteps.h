#pragma once

// Whole-process tests only: with VELQUIST_TEST_STEPS set, the client works through a script of
// user steps on its own windows, each as soon as its control is there, visible and enabled:
//   Name            click the button or trigger the menu item with that object name
//   Name=text       put the text into the line edit (or the number into the spin box) with
//                   that object name
//   menu:Name:Text  open the context menu of the control of that name, as the menu key does,
//                   and choose its item Text
//   select:Name:t   select the first entry of that list box (or tree) whose text begins with t
//   selected:Name:t wait until the active window's item view of that name has a selected
//                   row with a cell whose text is t
//   input:text      the next text input dialog answers with text
//   asked:text      wait until a message box whose text begins with text is open
//   answer:Button   press that button (Yes, No, Cancel, OK) of the open message box
//   file:path       wait until that file exists (the test's signal to go on)
//   shows:Name:text wait until the label of that name shows text containing text, then write
//                   what it shows to stderr ("velquist test shows: <text>")
//   close:Name      ask that window to close, as the window manager's close button does
//   tooltip:Name    show the tooltip of the first row of the item view of that name and write
//                   what it shows to stderr ("velquist test tooltip: <text>", then "velquist
//                   test tooltip images: <n>", the images it would load)
// Steps are separated by ";". A click or a menu command runs from the event loop, as the
// user's would, and the next step waits for it: the steps go on inside the event loop of a
// dialog it opens. When the last has run, "velquist test steps done" goes to stderr.
namespace zkTestSteps {
void StartFromEnvironment();
}
