from django.views.generic import UpdateView

from . import models


class KeeperUpdate(UpdateView):
    model = models.Keeper
    fields = ["hired"]
