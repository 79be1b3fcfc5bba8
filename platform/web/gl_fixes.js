// The JavaScript half of gl_fixes.cpp: calls of the emulation that are
// wrapped rather than replaced, as the original is still needed. Linked with
// --js-library, after the emulation's own library, so the original entries
// are there to wrap.
//
// glBegin: the emulation draws no GL_QUAD_STRIP (it throws). A quad strip's
// vertices in order are a triangle strip's, and each planar quad comes out as
// the same two triangles' pixels, so the strip is drawn as one.
//
// glBindTexture: with texture 0 bound, OpenGL draws untextured (the default
// texture has no image, so it is incomplete), while the emulation textures
// whatever has texture coordinates and WebGL samples black from no texture.
// Binding 0 binds a 1x1 white texture instead, which under GL_MODULATE
// leaves the colour as it is: untextured.
var pelmiraEmulatedBegin = LibraryManager.library.glBegin;
var pelmiraEmulatedBeginDeps = LibraryManager.library.glBegin__deps || [];
var pelmiraWebGLBindTexture = LibraryManager.library.glBindTexture;
var pelmiraWebGLBindTextureDeps = LibraryManager.library.glBindTexture__deps || [];

mergeInto(LibraryManager.library, {
  pelmiraEmulatedBegin: pelmiraEmulatedBegin,
  pelmiraEmulatedBegin__deps: pelmiraEmulatedBeginDeps,

  glBegin__deps: ['pelmiraEmulatedBegin'],
  glBegin: function(mode) {
    _pelmiraEmulatedBegin(mode === 0x0008 /* GL_QUAD_STRIP */ ? 0x0005 /* GL_TRIANGLE_STRIP */ : mode);
  },

  pelmiraWebGLBindTexture: pelmiraWebGLBindTexture,
  pelmiraWebGLBindTexture__deps: pelmiraWebGLBindTextureDeps,
  $pelmiraWhite: {texture: null, context: null},

  glBindTexture__deps: ['pelmiraWebGLBindTexture', '$pelmiraWhite'],
  glBindTexture: function(target, texture) {
    if (texture !== 0 || target !== 0x0DE1 /* GL_TEXTURE_2D */) {
      _pelmiraWebGLBindTexture(target, texture);
      return;
    }
    var gl = GLctx;
    if (pelmiraWhite.context !== gl) {
      pelmiraWhite.context = gl;
      pelmiraWhite.texture = gl.createTexture();
      gl.bindTexture(gl.TEXTURE_2D, pelmiraWhite.texture);
      gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, 1, 1, 0, gl.RGBA, gl.UNSIGNED_BYTE,
                    new Uint8Array([255, 255, 255, 255]));
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    }
    gl.bindTexture(gl.TEXTURE_2D, pelmiraWhite.texture);
  },
});
