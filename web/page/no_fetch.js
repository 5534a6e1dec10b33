// Put before emscripten's glue, inside its factory: the wasm is in this
// file, so the module has nothing to fetch. Without fetch it decodes the
// embedded copy directly, instead of first trying a fetch of it that the
// page's Content-Security-Policy refuses (and reports as an error).
var fetch = undefined;
