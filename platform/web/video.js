// The picture's and the keyboard's side in the page: the WebGL context on
// the canvas the page made for this play, the wait for the browser's next
// animation frame, and the Escape poll. Linked with --js-library.
mergeInto(LibraryManager.library, {
  $pelmiraVideo: {escape: false, listeners: [], wasFullScreen: false},

  // Through Browser.createContext, so that the fixed-function emulation is
  // set up on the new context. The drawing buffer is the picture's size;
  // the page scales the canvas to fit between black bars.
  pelmiraOpenCanvas__deps: ['$Browser', '$pelmiraVideo'],
  pelmiraOpenCanvas: function(width, height) {
    var canvas = Module['canvas'];
    if (!canvas) return 0;
    canvas.width = width;
    canvas.height = height;
    var gl = Browser.createContext(canvas, true, true,
        {antialias: false, alpha: false, depth: true, stencil: false, majorVersion: 1});
    if (!gl) return 0;
    if (Module['status']) Module['status'].contextAt = performance.now();
    var video = pelmiraVideo;
    var listen = function(target, type, handler) {
      target.addEventListener(type, handler);
      video.listeners.push([target, type, handler]);
    };
    listen(document, 'keydown', function(event) {
      if (event.key === 'Escape') {
        video.escape = true;
        event.preventDefault();
      }
    });
    // In full screen the browser keeps Escape for itself and leaves full
    // screen instead: leaving it is the show's Escape.
    video.wasFullScreen = !!document.fullscreenElement;
    listen(document, 'fullscreenchange', function() {
      if (document.fullscreenElement) video.wasFullScreen = true;
      else if (video.wasFullScreen) video.escape = true;
    });
    return 1;
  },

  pelmiraTakeEscape__deps: ['$pelmiraVideo'],
  pelmiraTakeEscape: function() {
    var pressed = pelmiraVideo.escape;
    pelmiraVideo.escape = false;
    return pressed ? 1 : 0;
  },

  pelmiraCloseVideo__deps: ['$pelmiraVideo'],
  pelmiraCloseVideo: function() {
    pelmiraVideo.listeners.forEach(function(l) { l[0].removeEventListener(l[1], l[2]); });
    pelmiraVideo.listeners = [];
  },

  pelmiraLeaveFullScreen: function() {
    if (document.fullscreenElement) document.exitFullscreen().catch(function() {});
  },

  // The frame drawn so far is shown when control returns to the browser; the
  // show goes on in the next animation frame's callback.
  nextAnimationFrame: function() {
    return Asyncify.handleSleep(function(wakeUp) {
      requestAnimationFrame(function() { wakeUp(); });
    });
  },

  // Never wakes: the instance's last call (system.cpp, platformExit).
  pelmiraHalt: function() {
    return Asyncify.handleSleep(function() {});
  },

  // For the page's status object: the tests and benches read it.
  pelmiraMarkFrame: function() {
    var status = Module['status'] || (Module['status'] = {frames: 0});
    if (status.frames++ === 0) status.firstFrameAt = performance.now();
  },
});
