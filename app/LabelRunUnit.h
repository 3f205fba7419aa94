// LabelRunUnit: the labels each file of a labelled run gets (the options'
// first, then its list row's, then what its name gives by the pattern), and
// the words that say why an option, a list or a value is refused.
#pragma once

#include "ListUnit.h"
#include "OptionUnit.h"

#include <string>

// Why a value cannot go into its field, as the catalogue words it.
std::string LabelErrorText(TLabelError error, TLabelField field);
// Why a named option is refused.
std::string RefusalText(const TOptionRefusal& refusal, TLabelField field);
// Why a list that was read cannot be taken (its Error is set).
std::string ListErrorText(const TList& list);

// Reads the list Name (no more than a list may hold) into List; false when it
// cannot be read at all.
bool ReadListFile(const std::string& name, const TDateTime& today, TList& list);
// Whether a name in a list leads out of the list's folder: a full name, one
// with a drive, or one with a ".." part.
bool LeavesFolder(const std::string& file);

// Completes Choices (the run's) for the file Name, a WAVed MPEG to be, with
// Row its list row or none: the next cut number, the row's labels, the
// pattern's. False, with LastFailure and LastFailureDetail set, when the row
// holds a value that cannot be taken, the name does not fit the pattern or
// gives a value its field cannot take.
bool FileChoices(const TRunSetup& setup, const TDateTime& today, const std::string& name, const TListRow* row,
                 TRunChoices& choices);
