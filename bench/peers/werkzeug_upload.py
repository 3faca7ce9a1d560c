"""Upload server for the peer benchmark: a Werkzeug application (its threaded
development server) that saves every uploaded file into DIR under its own
name with FileStorage.save, answering the bytes stored.
Usage: python3 werkzeug_upload.py PORT DIR"""
import os
import sys

from werkzeug.serving import run_simple
from werkzeug.wrappers import Request, Response


def make_app(folder):
    @Request.application
    def app(request):
        total = 0
        for storage in request.files.values():
            target = os.path.join(folder, os.path.basename(storage.filename))
            storage.save(target)
            total += os.path.getsize(target)
        return Response(str(total))
    return app


if __name__ == "__main__":
    Request.max_content_length = None
    run_simple("127.0.0.1", int(sys.argv[1]), make_app(sys.argv[2]), threaded=True)
