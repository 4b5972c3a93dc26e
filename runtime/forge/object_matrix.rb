# object_matrix: matrix helpers for objects are not part of this build yet
