// GL and GLU entry points that do nothing, linked instead of libGL so that
// only drawFrame's own arithmetic is timed.
#include <GL/glu.h>

GLuint textureNames[3] = {1, 2, 3};

extern "C" {
void glBegin(GLenum) {}
void glEnd() {}
void glVertex3f(GLfloat, GLfloat, GLfloat) {}
void glVertex2s(GLshort, GLshort) {}
void glTexCoord2f(GLfloat, GLfloat) {}
void glTexCoord2sv(const GLshort *) {}
void glColor4ub(GLubyte, GLubyte, GLubyte, GLubyte) {}
void glBindTexture(GLenum, GLuint) {}
void glEnable(GLenum) {}
void glDisable(GLenum) {}
void glPushMatrix() {}
void glPopMatrix() {}
void glLoadIdentity() {}
void glTranslatef(GLfloat, GLfloat, GLfloat) {}
void gluLookAt(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble,
               GLdouble) {}
}
