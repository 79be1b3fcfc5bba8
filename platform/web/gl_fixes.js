// The JavaScript half of gl_fixes.cpp: calls of the emulation that are
// wrapped rather than replaced, as the original is still needed. Linked with
// --js-library, after the emulation's own library, so the original entries
// are there to wrap.
//
// glBegin: the emulation draws no GL_QUAD_STRIP (it throws). A quad strip's
// vertices in order are a triangle strip's, and each planar quad comes out as
// the same two triangles' pixels, so the strip is drawn as one.
var pelmiraEmulatedBegin = LibraryManager.library.glBegin;
var pelmiraEmulatedBeginDeps = LibraryManager.library.glBegin__deps || [];

mergeInto(LibraryManager.library, {
  pelmiraEmulatedBegin: pelmiraEmulatedBegin,
  pelmiraEmulatedBegin__deps: pelmiraEmulatedBeginDeps,

  glBegin__deps: ['pelmiraEmulatedBegin'],
  glBegin: function(mode) {
    _pelmiraEmulatedBegin(mode === 0x0008 /* GL_QUAD_STRIP */ ? 0x0005 /* GL_TRIANGLE_STRIP */ : mode);
  },
});
