# A backend package inside the app "storages": the app is the folder with
# migrations above, and AzureBlob is what tells its models from the other
# backends' models.
from django.db import models


class AzureBlobImportStorage(models.Model):
    pass


class AzureBlobExportStorage(models.Model):
    pass


class AzureBlobImportLink(models.Model):
    pass


class AzureBlobExportLink(models.Model):
    pass
