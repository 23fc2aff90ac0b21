#pragma once
// KV_CheckDeclaredSizes: before a model file goes to the import library, the counts and sizes
// its header declares are held against the bytes the file holds, so that a file claiming
// billions of vertices, or a buffer of gigabytes, is refused at once with a reason the user
// can act on, instead of the library allocating for the claim (and stopping on
// "std::bad_alloc") or reading until the time limit. The formats whose readers in the
// library were seen to do so:
//  - PLY, every layout (KV_PlyReader::CheckDeclaredSizes): a header without end_header, an
//    element count or list length the data cannot hold;
//  - OFF: vertex and face counts against the numbers the file holds;
//  - glTF 2.0 (.gltf, .glb): the binary file's own lengths, each buffer's byteLength against
//    the data behind it (the binary chunk, a data URI, a file beside the model), each buffer
//    view inside its buffer, each accessor inside its view.
//
// Returns false with reason (in the words of the importer's other reasons) when the file
// declares more than it holds; true when it holds what it declares, when it is of another
// format, or when it cannot be read here at all (the library then says what it makes of
// it). Time and memory are linear in the file's size; nothing is allocated for a count.

#include <atomic>
#include <string>

// A set stop flag ends the walk early with true: the caller looks at the flag.
bool KV_CheckDeclaredSizes(const std::string& path, const std::string& format,
                           std::string& reason, const std::atomic<bool>* stop = nullptr);
