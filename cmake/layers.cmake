# Which folder of src/ may include which: the build fails on any other
# include of ours (docs/ARCHITECTURE.md draws the same picture).
set(CORVANE_LAYERS
  "base:"
  "paradox:base"
  "connection:base paradox"
  "postgres:base connection"
  "staging:base paradox connection"
  "ui:base connection"
  "app:base"
  "catalog:base paradox connection ui"
  "transfer:base paradox connection ui app catalog"
  "maintenance:base paradox connection ui"
  "frame:base connection ui app catalog"
  "cli:base paradox connection ui app catalog transfer maintenance"
  "windows:base connection ui app catalog frame transfer maintenance"
)
# One include each, by file: the copy to Paradox exports through the
# staging connection's typed calls.
set(CORVANE_LAYER_EXCEPTIONS
  "transfer/to_paradox.cpp:staging/staging_door.h"
  "transfer/to_paradox_handler.h:staging/staging_door.h"
)
